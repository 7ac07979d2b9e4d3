#pragma once

#include "core/HxString.h"

// Built-in defaults of the numbered settings: 0-99 supervisor, 100-199
// worker, 300-399 client. Text defaults either are fixed or are built on the
// installation directory, which starts at hx_default_string(0) and can be
// moved by sources of rising priority level.

// Levels of the sources that move the installation directory.
constexpr int kHxDirLevelBuiltIn = 0;
constexpr int kHxDirLevelConfigFile = 2;  // client configuration key "hx_directory"
constexpr int kHxDirLevelEnvironment = 3;  // environment variable "HX_DIR"
constexpr int kHxDirLevelApi = 4;          // API start-up

// Setting numbers that the rest of the library looks up.
constexpr int kHxDefaultDir = 0;
constexpr int kHxDefaultSupervisorLogPath = 8;
constexpr int kHxDefaultSupervisorPort = 10;
constexpr int kHxDefaultSupervisorCacheDir = 32;
constexpr int kHxDefaultSupervisorHttpPort = 48;
constexpr int kHxDefaultSupervisorSubPort = 49;
constexpr int kHxDefaultWorkerLogPath = 111;
constexpr int kHxDefaultWorkerTemplatePath = 112;
constexpr int kHxDefaultWorkerPort = 113;
constexpr int kHxDefaultWorkerLogFile = 114;
constexpr int kHxDefaultWorkerLogMode = 117;
constexpr int kHxDefaultClientConf = 301;
constexpr int kHxDefaultJobTypePath = 302;
constexpr int kHxDefaultClockOffsetDir = 304;
constexpr int kHxDefaultClientJobFlags = 305;
constexpr int kHxDefaultClientTimeout = 306;

// The text default of a setting; an unknown number gives "" and a warning in
// the debug log.
HxString hx_default_string(int number);
// The integer default of a setting; 0 for an unknown number.
int hx_default_int(int number);
HxString hx_oem_default_string(int number);
int hx_oem_default_int(int number);

// The current installation directory.
HxString hx_default_get_hxdir();
// Moves the installation directory when path is not empty and level is above
// the level of the source that set it last.
void hx_default_set_hxdir(HxString const& path, int level);
// Back to the built-in directory at level 0, as at program load (for tests).
void _hx_default_reset_hxdir();
