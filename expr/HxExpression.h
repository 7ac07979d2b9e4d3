#pragma once

#include "core/HxHash.h"
#include "core/HxList.h"
#include "core/HxString.h"

// String splitters and tokenizers used throughout the system to break option
// strings, lists, names, ranges and expressions into pieces. Every function
// appends to what the caller passes in, never clears it, and never fails: text
// that fits no rule gives fewer or odder pieces.
//
// Blank characters are exactly tab, line feed, carriage return and space.
class HxExpression {
 public:
  // ---- name and value splitters ----
  // Before the first "." to first, after it to rest (rest untouched without one).
  static void splitperiod(HxString const& text, HxString& first, HxString& rest);
  // name = value: blanks dropped from the name, leading blanks skipped in the
  // value. False without "=".
  static bool splitequal(HxString const& text, HxString& name, HxString& value);
  // name: value, as splitequal; false when a "=" comes before any ":".
  static bool splitbecomes(HxString const& text, HxString& name, HxString& value);

  // ---- list splitters ----
  // Every separator ends a piece (empty pieces kept); a final empty piece is dropped.
  static void splitslash(HxString const& text, HxStringList& list);
  static void splitchar(HxString const& text, char c, HxStringList& list);
  static void splittab(HxString const& text, HxStringList& list);
  // Words separated by runs of blanks.
  static void splitspace(HxString const& text, HxStringList& list);
  // "," outside [...] groups; blanks outside groups removed.
  static void splitcomma(HxString const& text, HxStringList& list);
  // "," outside quotes and {...}; items trimmed, empty items kept.
  static void split(HxString const& text, HxStringList& list);
  // As split(text, list); each item becomes a key mapped to a copy of itself.
  static void split(HxString const& text, HxStringHash& hash);
  static HxStringList split(HxString const& text);

  // ---- tokenizers ----
  // Words, and "[" and "]" as one-character tokens; blanks separate.
  static void rangetokenize(HxString const& text, HxStringList& list);
  // "(" ")", quoted strings, upper-case names and other runs (blanks kept).
  static void commandtokenize(HxString const& text, HxStringList& list);
  // The expression tokenizer: operator symbols, quoted strings and words.
  static void tokenize(HxString const& text, HxStringList& tokens);
  // Callback trigger texts: "(" ")", quoted strings and blank-separated words.
  static void callbacktokenize(HxString const& text, HxStringList& tokens);
  // Value lists: quoted strings, ",", {...} groups, "(" ")" and words.
  static void valuetokenize(HxString const& text, HxStringList& tokens);
};
