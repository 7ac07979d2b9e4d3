#pragma once

// Builds the decoding tables of every record class of the library (the list
// is in HxRecordTables.cpp; a new record class is added there). The message
// codec, which every program that reads records from outside links, calls
// it when the program is loaded (core/HxAtLoad.h says why).
void hx_build_record_tables();
