// Dial-up through rasapi32 as far as Wine shows it: the binding and its
// failures, and an entry that is not in the phone book. Nothing is dialled.
#include <gtest/gtest.h>

#include <string>

#include "net/ras_api_win.h"
#include "net/ras_run.h"
#include "platform/errors.h"

namespace {

std::string FailureOf(void (*body)()) {
  try {
    body();
  } catch (const EError& e) {
    return e.what();
  }
  return "";
}

TEST(DialupWin, BindingNamesWhatIsMissing) {
  EXPECT_EQ(FailureOf([] { TRasApi api(L"no_such_ras.dll"); }),
            "Dial-up is not available: no_such_ras.dll cannot be loaded");
  EXPECT_EQ(FailureOf([] { TRasApi api(L"kernel32.dll"); }),
            "Dial-up: kernel32.dll has no RasEnumEntriesW");
  // The system's own: bound, and its phone book read without a failure.
  TRasApi api;
  EXPECT_NO_THROW(api.Entries());
  EXPECT_EQ(api.FindConnection("No Such Provider"), nullptr);
}

TEST(DialupWin, AnEntryMissingFromThePhoneBookIsRefusedByName) {
  TRasRun link;
  link.Configure("No Such Provider", true);
  EXPECT_TRUE(link.Active());
  EXPECT_FALSE(link.EntryKnown());
  {
    TSendRun run(link);
    try {
      link.Dial();
      FAIL() << "dialled an entry that is not in the phone book";
    } catch (const EError& e) {
      EXPECT_STREQ(e.what(), "Dial-up: no phone-book entry \"No Such Provider\"");
    }
    link.Cancel();
  }
  // No entry: nothing to dial, and a dial is no failure.
  link.Configure("", true);
  EXPECT_FALSE(link.Active());
  EXPECT_TRUE(link.EntryKnown());
  EXPECT_NO_THROW(link.Dial());
}

}  // namespace
