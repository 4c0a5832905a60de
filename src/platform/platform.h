// The one place that knows which platform we build for: the real Windows
// headers for mingw builds, the POSIX stand-in for Linux builds.
#pragma once
#if defined(_WIN32)
#  include <windows.h>
#  include <commdlg.h>
#  include <shellapi.h>
#  include <dde.h>
#else
#  include "posix/win32.h"
#endif
