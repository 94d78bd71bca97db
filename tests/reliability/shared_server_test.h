#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/reliability/server_run.h"
#include "tests/support/private_cupsd.h"

namespace reliability {

// Tests that share one private cupsd per suite (starting one per test would be most of their
// time), each test with a queue of its own so that no job of one is seen by another.
class SharedServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = std::make_unique<testing_support::PrivateCupsd>(); }
  static void TearDownTestSuite() { server_.reset(); }

  // A fresh queue, named `prefix` and a number, and the setting that runs the pass on it.
  static std::unique_ptr<ServerRun> newRun(const std::string& prefix) {
    return std::make_unique<ServerRun>(*server_, prefix + std::to_string(nextQueue_++));
  }

 private:
  static inline std::unique_ptr<testing_support::PrivateCupsd> server_;
  static inline int nextQueue_ = 0;
};

}  // namespace reliability
