// EngineHolder: owns the one database engine object of the program. The engine is
// created by a factory on its first use, not at start-up, and is then kept, the same
// object for every later use, until the holder (and with it the program) goes away.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "repair/db_engine.h"

namespace repair {

class EngineHolder {
 public:
  // `factory` makes the engine; it may give nullptr when no engine can be made.
  using Factory = std::function<std::unique_ptr<DBEngine>()>;

  explicit EngineHolder(Factory factory) : factory_(std::move(factory)) {}
  EngineHolder(const EngineHolder&) = delete;
  EngineHolder& operator=(const EngineHolder&) = delete;

  // The engine; made on the first call that finds none. Null when the factory could
  // not make one (a later call asks the factory again).
  DBEngine* Get() {
    if (engine_ == nullptr && factory_) engine_ = factory_();
    return engine_.get();
  }

 private:
  Factory factory_;
  std::unique_ptr<DBEngine> engine_;  // null until the first successful Get()
};

}  // namespace repair
