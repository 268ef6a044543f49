// Each test gets a program folder of its own and records what the error box
// would show.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "tests/platform/temp_folder.h"

class ProgramFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_TIME, "C");
    SetProgramFolder(dir.path());
    Checkpoint = 0;
    old_box_ = SetErrorBox([this](const std::string& text) { shown.push_back(text); });
  }
  void TearDown() override { SetErrorBox(old_box_); }

  TempFolder dir;
  std::vector<std::string> shown;

 private:
  ErrorBox old_box_;
};
