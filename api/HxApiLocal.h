#pragma once

#include "core/HxString.h"

// API functions that need no supervisor.

// The value of a named command or administration action; 0 for a name that
// the table lacks (names compare exactly, case included).
int hxCONST(HxString const& name);

class HxConfig;
class HxPathMap;

// In a job process with an assignment whose path map is not empty, the path
// converted through that map; otherwise the path unchanged.
HxString hxconvertpath(HxString const& path);
// The path with the map's sources replaced (caseless, in the map's order);
// unchanged when the map is empty.
HxString hxconvertpath(HxString const& path, HxPathMap& map);

// Loads the host's client configuration file into config (its options are
// added to those config holds). Always 1: config.valid() tells whether the
// file could be read.
int hxlocalconfig(HxConfig& config);

// Writes config's options into the host's client configuration file, with
// the file as it stands as the template (its lines for other keys and its
// comments stay), through HxFileReplacement: where the file can be
// replaced, the new text goes to a new file beside the old one, which
// replaces it only once it is whole on disk, so that no reader ever sees a
// truncated configuration. 1 when the file was written, else 0: a file
// that was to be replaced, or that had no room for the new text, is left
// as it was.
int hxlocalupdateconfig(HxConfig& config);

// The path map of this worker: in a job process the assignment's, else the
// "worker_path_map" of the configuration of the worker on "localhost"
// (empty when it does not answer or has none).
HxPathMap hxworkerpathmap();
