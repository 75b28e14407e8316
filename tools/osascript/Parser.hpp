#pragma once
// Recursive-descent parser from tokens to the syntax tree. Covers the
// AppleScript the application sends (tell blocks, set, return, if, repeat
// with … in, count, of-chains and possessives, &, as, comparisons, starts
// with, do JavaScript, list literals, element and property references) and
// throws SyntaxError, in osascript's words, for anything else.

#include "tools/osascript/Ast.hpp"
#include "tools/osascript/Lexer.hpp"

#include <string>

namespace vesko::osascript {

ast::Program parse(const std::string& program);

}  // namespace vesko::osascript
