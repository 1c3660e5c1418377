#pragma once
// Text that a driver hands over as bytes, made fit for a JSON document, which must be UTF-8.

#include <string>

// The bytes unchanged where they are well-formed UTF-8; each byte that is not part of a
// well-formed sequence (a stray continuation, a cut or overlong sequence, a surrogate, a code
// point past U+10FFFF, an ANSI code page's letter) becomes U+FFFD.
std::string wellFormedUtf8(const std::string& bytes);
