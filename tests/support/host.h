// Which host the tests are built for: the one place tests ask. Test sources
// that need POSIX calls (FIFOs, other users, descriptors, signals, /proc,
// mounts) are built only on POSIX hosts; elsewhere tests/CMakeLists.txt puts a
// test in each one's place that is skipped with its reason.
#pragma once

#ifdef _WIN32
#define KESTRAFIN_TEST_POSIX_HOST 0
#else
#define KESTRAFIN_TEST_POSIX_HOST 1
#endif

namespace kestrafin::testing {

inline constexpr bool kPosixHost = KESTRAFIN_TEST_POSIX_HOST != 0;

}  // namespace kestrafin::testing
