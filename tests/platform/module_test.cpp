#include "platform/module.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <string>

#include "platform/debug.h"

namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

TEST(Module, ProgramAndModuleFileNames) {
  const std::string program = platform::ProgramFileName();
  EXPECT_NE(BaseName(program).find("test_platform"), std::string::npos) << program;
  // The tests link the library statically: its code lives in the program.
  EXPECT_EQ(platform::ModuleFileName(), program);
  EXPECT_EQ(platform::ModuleFileName(reinterpret_cast<const void*>(&BaseName)), program);
}

TEST(Module, ArgumentsLeaveOutTheProgram) {
  const std::vector<std::string> argv = testing::internal::GetArgvs();
  const std::vector<std::string> expected(argv.begin() + 1, argv.end());
  EXPECT_EQ(platform::ProgramArguments(), expected);
}

TEST(Module, LoadedModulesAreFoundByName) {
  EXPECT_NE(platform::FindLoadedModule(BaseName(platform::ProgramFileName())), 0u);
  EXPECT_EQ(platform::FindLoadedModule("no-such-module-7f3a.dll"), 0u);
  EXPECT_EQ(platform::FindLoadedModule(""), 0u);
  // The system library of either platform.
  platform::ModuleHandle system = platform::FindLoadedModule("kernel32.dll");
  const char* function = "GetTickCount";
  if (!system) {
    system = platform::FindLoadedModule("libc.so.6");
    function = "malloc";
  }
  ASSERT_NE(system, 0u);
  EXPECT_NE(platform::FindProcedure(system, function), nullptr);
  EXPECT_EQ(platform::FindProcedure(system, "NoSuchFunction7f3a"), nullptr);
  EXPECT_EQ(platform::FindProcedure(0, function), nullptr);
}

TEST(SafeRead, ReadsWhatIsReadableAndRefusesTheRest) {
  const uint32_t word = 0x0FDE2E4B;
  uint32_t value = 0;
  ASSERT_TRUE(platform::SafeReadU32(&word, &value));
  EXPECT_EQ(value, word);
  const void* pointer = &word;
  uintptr_t read = 0;
  ASSERT_TRUE(platform::SafeReadPointer(&pointer, &read));
  EXPECT_EQ(read, reinterpret_cast<uintptr_t>(&word));

  value = 7;
  EXPECT_FALSE(platform::SafeReadU32(nullptr, &value));
  EXPECT_FALSE(platform::SafeReadU32(reinterpret_cast<const void*>(uintptr_t{16}), &value));
  EXPECT_FALSE(platform::SafeReadPointer(reinterpret_cast<const void*>(~uintptr_t{0} - 7), &read));
  EXPECT_EQ(value, 7u);  // untouched on failure
}

#ifndef _WIN32
// A child after fork reads its own memory, not its parent's.
TEST(SafeRead, AForkedChildReadsItself) {
  volatile uint32_t word = 1;
  uint32_t value = 0;
  ASSERT_TRUE(platform::SafeReadU32(const_cast<const uint32_t*>(&word), &value));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    word = 2;
    const bool ok = platform::SafeReadU32(const_cast<const uint32_t*>(&word), &value);
    _exit(ok && value == 2 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

}  // namespace
