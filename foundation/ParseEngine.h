// A forward-only cursor over a copy of a text, with the skip, seek and capture steps that
// header parameters, the XML reader and the HTML charset scanner are written in.
//
// The end of the text is its length: a NUL byte inside the text is an ordinary byte, and at
// the end current() gives 0 and every step stops. A capture appends the bytes from pos up
// to, not including, the byte it stops at, leaves pos on that byte, and takes the rest of
// the text when the end comes first. Every step costs time in proportion to the bytes it
// passes over (a string search: times the length of the string); only the quote-aware
// capture may read on to the end without moving there, at most three times per stopping
// byte while pos only moves forward.
#pragma once

#include <cstdint>

#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"

class ParseEngine : public VorlundObject {
 public:
  ParseEngine() = default;
  ParseEngine(const ParseEngine&) = delete;
  ParseEngine& operator=(const ParseEngine&) = delete;
  ~ParseEngine() override = default;

  // Copies the text (up to its NUL; null gives an empty text) and puts pos at 0.
  void setText(const char* text);
  // Copies n bytes, NULs included.
  void setText(const char* bytes, uint32_t n);

  const StringBuffer& text() const { return text_; }
  int32_t pos() const { return pos_; }
  // Clamped to 0..length.
  void setPos(int32_t pos);
  bool atEnd() const { return static_cast<uint32_t>(pos_) >= text_.getSize(); }
  // The byte at pos, 0 at the end.
  char current() const { return text_.charAt(static_cast<uint32_t>(pos_)); }
  // The text from pos on, NUL-terminated at the end of the text.
  const char* rest() const { return text_.getString() + pos_; }
  uint32_t restSize() const { return text_.getSize() - static_cast<uint32_t>(pos_); }

  // Moves one byte on (nothing at the end).
  void skipChar();
  // Advances while the current byte is in the set; a null or empty set does nothing.
  void skipChars(const char* set);
  // Advances while the current byte is one of the four.
  void skipAnyOf4(char a, char b, char c, char d);
  // Advances to the next c (pos itself when it is c), or to the end.
  void seekChar(char c);
  // Advances to the next c and returns false; when the stop byte or the end comes first,
  // stands on it and returns true.
  bool seekCharUnless(char stop, char c);

  void captureToChar(char c, StringBuffer& out);
  // Nothing at all, pos unchanged, when the set is null or empty.
  void captureToAnyOf(const char* set, StringBuffer& out);
  // Up to the next c outside a quoted run: a double or single quote opens a run that only
  // the same quote byte closes. When no such c exists, the same as captureToChar(c).
  void captureToCharOutsideQuotes(char c, StringBuffer& out);

  // Case-insensitive (ASCII) search from pos: true with pos on the first byte of the match;
  // false, pos unchanged, when absent or when s is null or empty.
  bool seekString(const char* s);
  // Case-insensitive search; when found, appends the text through the match and moves past
  // it (true); otherwise appends nothing (false).
  bool captureThroughString(const char* s, StringBuffer& out);
  // Case-sensitive search; when found, moves past the match (true); else pos is unchanged.
  bool skipPastString(const char* s);
  // Starting at the given depth, appends each byte and moves past it, a close byte lowering
  // the depth and an open byte raising it (close is tested first when both are equal); true
  // after the byte that brings the depth to 0, false at the end. Depth 0: true at once.
  bool captureBalanced(char open, char close, int32_t depth, StringBuffer& out);

  // True when the text at pos begins with s, compared without regard to ASCII case.
  bool lookingAtNoCase(const char* s) const;
  // Removes every space and tab from pos to the end of the text; pos stays.
  void removeSpacesAndTabsFromPos();
  // An optional sign and the decimal digits at pos, which are passed over; 0 when there
  // are no digits (pos then stays), saturating at the int32_t limits.
  int32_t readDecimal();

 private:
  // State of a scan for the runs of captureToCharOutsideQuotes: 0 outside a run, else the
  // quote byte that opened it.
  static char nextQuoteState(char state, char byte);

  StringBuffer text_;
  int32_t pos_ = 0;

  // Memory of quote-aware scans that found no stopping byte. Two scans standing in the same
  // run state at the same byte see the same future, so once a scan from pos failed, a later
  // scan that begins in the state that failed scan has reached can only fail too. The set of
  // such states, valid at failedAt_, is carried forward as pos advances; this bounds the
  // full scans to at most three per text and stopping byte, keeping the scanner linear.
  char failedFor_ = 0;
  int32_t failedAt_ = -1;                     // -1: nothing remembered
  bool failedIn_[3] = {false, false, false};  // outside, in a double-quoted, single-quoted run
};
