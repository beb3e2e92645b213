// Study: the repair measured against real crash damage. For every file, every page
// role (tools/damage/page_roles.h) and every mode (zero, torn, flip with several
// seeds), on every candidate page of the role or a seeded sample of them, it makes a
// damaged copy, repairs it in a child process with a time limit, reads the original,
// the damaged copy and the repaired file with our reader, mdb-reader and mdbtools,
// and judges the case (judge.h).
//
// Everything is written under one temporary folder, removed at the end; the input
// files are only read. Cases run in parallel worker processes, each with its own
// readers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "tools/damage/page_damage.h"
#include "tools/repair_study/judge.h"

namespace study {

struct StudyOptions {
  std::vector<std::string> inputs;   // files, or folders whose .mdb/.accdb files are taken
  std::vector<std::string> schemas;  // each made into a Jet 3 and a Jet 4 file by jetdb create
  std::string jetdb;                 // the jetdb program (for the schemas)
  std::string oracle_dir;            // tests/oracles, with mdb-reader installed
  std::string testdata_dir;          // names of files under it are shown relative to it
  std::vector<damage::Role> roles;
  std::vector<damage::Mode> modes;
  size_t pages_per_role = 2;  // 0: every candidate page
  int flip_seeds = 3;         // seeds 1..N per flipped page
  int flip_bytes = damage::kDefaultFlipBytes;
  uint64_t seed = 1;          // of the page sample
  int jobs = 1;
  double repair_seconds = 60;
  double read_seconds = 60;
  bool progress = true;       // a line per file on standard error
};

struct CaseResult {
  std::string file;  // as shown: relative to the test data, or "SCHEMA as jet3"
  damage::Role role = damage::Role::kData;
  damage::Mode mode = damage::Mode::kZero;
  uint64_t seed = 1;
  uint32_t page = 0;
  std::string damage;   // what the damage did
  std::string command;  // the jetdb-damage command that makes the same copy
  Verdict verdict;
};

struct StudyResult {
  std::vector<std::string> files;     // studied, as shown
  std::vector<std::string> left_out;  // "<file>: <why>"
  std::vector<std::string> generated; // how each generated file was made
  std::vector<CaseResult> cases;
  size_t no_change = 0;               // damages that changed no byte, not studied
};

jet::Status RunStudy(const StudyOptions& options, StudyResult* result);

// The outcome table, the counts and the per-role breakdown.
void PrintTable(const StudyResult& result, std::FILE* out);
// One line per case that is not lossless or is counted as worse, under- or over-reported.
void PrintList(const StudyResult& result, std::FILE* out);
// The whole result as one JSON document.
std::string ResultJson(const StudyResult& result);

// Cases with the outcome / counted as worse than no tool / as under-reported.
size_t CountOutcome(const StudyResult& result, Outcome outcome);
size_t CountWorse(const StudyResult& result);
size_t CountUnderReported(const StudyResult& result);

}  // namespace study
