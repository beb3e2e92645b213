// Dumps every user table of an Access file as mdb-reader reads it, for the repair
// study (tools/repair_study): one line per row, "<table as JSON>\t<row as JSON array>",
// and after each table "<table as JSON>\t#<row count>", or "<table as JSON>\t!<error>"
// when mdb-reader fails on that table. A file it cannot open at all ends the program
// with exit status 1 and the error on standard error. With --serve it reads file names
// from standard input, one per line, and ends each answer with a line "." (or
// "x<error>" when the file cannot be opened), so that one Node.js process serves a
// whole study. Values are written so that equal values give equal text: binary data
// as hex, dates as ISO text (an impossible date as null), big integers as decimal text.
import { readFileSync, writeSync } from "node:fs";
import { createInterface } from "node:readline";
import MDBReader from "mdb-reader";

function value(_key, v) {
  if (v === null || v === undefined) return null;
  if (typeof v === "bigint") return v.toString();
  if (v && v.type === "Buffer" && Array.isArray(v.data)) return { hex: Buffer.from(v.data).toString("hex") };
  return v;
}

function write(text) {
  writeSync(1, text + "\n");
}

function dump(path) {
  let reader;
  let names;
  try {
    reader = new MDBReader(readFileSync(path));
    names = reader.getTableNames();
  } catch (e) {
    return `cannot open: ${String(e && e.message).replace(/\s+/g, " ")}`;
  }
  for (const name of names) {
    const key = JSON.stringify(name);
    try {
      const table = reader.getTable(name);
      const columns = table.getColumnNames();
      const rows = table.getData();
      const lines = rows.map((row) => key + "\t" + JSON.stringify(columns.map((c) => row[c]), value));
      for (const line of lines) write(line);
      write(`${key}\t#${rows.length}`);
    } catch (e) {
      write(`${key}\t!${String(e && e.message).replace(/\s+/g, " ")}`);
    }
  }
  return null;
}

if (process.argv.length === 3 && process.argv[2] !== "--serve") {
  const error = dump(process.argv[2]);
  if (error) {
    process.stderr.write(error + "\n");
    process.exit(1);
  }
} else if (process.argv.length === 3) {
  // One file name per line in; its tables out, then "." or "x<error>" on a line.
  const lines = createInterface({ input: process.stdin, terminal: false });
  lines.on("line", (path) => {
    const error = dump(path);
    write(error ? "x" + error : ".");
  });
} else {
  process.stderr.write("usage: dump-mdb-reader.mjs FILE | --serve\n");
  process.exit(2);
}
