#pragma once
// The syntax tree of a program: statements holding expressions. Object
// references ("tab 2 of window 1", "URL of t", "end of lines_") are
// expressions too; the evaluator resolves them against the application told.

#include "tools/osascript/ScriptError.hpp"

#include <memory>
#include <string>
#include <vector>

namespace vesko::osascript::ast {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

enum class ExprKind {
    Text,         // "…"            text
    Integer,      // 42             number
    Real,         // 4.2            number
    Constant,     // tab, linefeed, return, space, quote, true, false, missing value
    Variable,     // jsCode         name
    List,         // {a, b}         items
    Application,  // application "Safari"   operand = name
    Binary,       // a & b, a is b, a starts with b …   op, left, right
    Unary,        // -a, not a      op, operand
    Coerce,       // a as text      operand, name = class
    Count,        // count of a     operand
    DoJavaScript, // do JavaScript code in target   left = code, right = target (may be null)
    Property,     // URL of t, AppleScript's text item delimiters   name, container (may be null)
    Element,      // tab N of w     name = class, index, container (may be null)
    Every,        // tabs of w      name = class, container (may be null)
    EndOf,        // end of lines_  container
};

struct Expr {
    ExprKind kind;
    SourceRange range;
    std::string name;  // text value, constant / variable / property / class name, operator
    long long integer = 0;
    double real = 0;
    ExprPtr left;       // binary left, unary/coerce/count operand, DoJavaScript code
    ExprPtr right;      // binary right, DoJavaScript target
    ExprPtr index;      // Element index
    ExprPtr container;  // Property / Element / Every / EndOf: what it is "of"
    std::vector<ExprPtr> items;
};

struct Stmt;
using StmtPtr = std::unique_ptr<Stmt>;
using Block = std::vector<StmtPtr>;

enum class StmtKind {
    Expression,  // expr
    Set,         // set target to value
    Return,      // return [value]
    If,          // if cond then body [else otherwise] end if
    RepeatIn,    // repeat with variable in list … end repeat
    Tell,        // tell target … end tell
};

struct Stmt {
    StmtKind kind;
    SourceRange range;
    ExprPtr target;  // Set target, Tell target
    ExprPtr value;   // Expression, Set value, Return value (may be null), If condition, RepeatIn list
    std::string variable;
    Block body;
    Block otherwise;
};

struct Program {
    Block statements;
};

}  // namespace vesko::osascript::ast
