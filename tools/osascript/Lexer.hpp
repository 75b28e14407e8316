#pragma once
// Splits a program into tokens: words, string and number literals, symbols and
// line ends. Comments ("--", "#" to the end of the line, "(* ... *)" nested)
// and continuation characters ("¬" before a line end) are dropped.

#include "tools/osascript/ScriptError.hpp"

#include <string>
#include <vector>

namespace vesko::osascript {

enum class TokenKind {
    Word,      // identifier or keyword; `text` lower-cased, `raw` as written
    String,    // `text` holds the decoded value
    Number,    // `text` holds the digits as written
    Symbol,    // ( ) { } , & = : + - * / < > ≠ ≤ ≥ and the possessive 's
    LineEnd,   // statement separator
    End,       // end of the program
};

struct Token {
    TokenKind kind;
    std::string text;
    std::string raw;
    SourceRange range;

    bool isWord(const char* word) const { return kind == TokenKind::Word && text == word; }
    bool isSymbol(const char* symbol) const { return kind == TokenKind::Symbol && text == symbol; }
};

// Throws SyntaxError for an unterminated string or comment, or a character
// that starts no token.
std::vector<Token> tokenize(const std::string& program);

}  // namespace vesko::osascript
