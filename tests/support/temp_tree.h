// Real folder trees in temporary folders, for tests that run on every host:
// TempFolder (path(), folder / name with the host's separator), make_file,
// make_folder, make_folder_chain and read_bytes. Each throws
// std::runtime_error when the tree cannot be built.
#pragma once

#include "tests/support/host.h"

#if KESTRAFIN_TEST_POSIX_HOST
#include "tests/support/temp_tree_posix.h"
#else
#include "tests/support/temp_tree_windows.h"
#endif
