#include "core/HxReference.h"

void HxReference::value(HxString const& name, HxString& out) { out = name; }
