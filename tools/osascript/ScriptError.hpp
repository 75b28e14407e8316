#pragma once
// Errors of a script run, printed the way osascript prints them:
//   START:END: syntax error: MESSAGE (NUMBER)
//   START:END: execution error: [APP got an error: ]MESSAGE (NUMBER)
// START and END are character offsets into the program text.

#include <cstddef>
#include <stdexcept>
#include <string>

namespace vesko::osascript {

// A span of the program text, in bytes; converted to characters when printed.
struct SourceRange {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Error numbers that the runner reports.
namespace errnum {
inline constexpr int kSyntax = -2741;              // expected X but found Y
inline constexpr int kUnknownToken = -2740;        // unknown token / cannot go after this
inline constexpr int kGeneric = -2700;             // a script's own error
inline constexpr int kCantMakeType = -1700;        // coercion failed
inline constexpr int kCantGet = -1728;             // no such object
inline constexpr int kInvalidIndex = -1719;        // element index out of range
inline constexpr int kTimedOut = -1712;            // the application did not answer in time
inline constexpr int kNotUnderstood = -1708;       // the object does not understand a command
inline constexpr int kNotRunning = -600;           // the application is not running
inline constexpr int kVariableNotDefined = -2753;  // a variable read before it was set
}  // namespace errnum

struct SyntaxError : std::runtime_error {
    SyntaxError(SourceRange range, const std::string& message, int number = errnum::kSyntax)
        : std::runtime_error(message), range(range), number(number) {}
    SourceRange range;
    int number;
};

struct ExecutionError : std::runtime_error {
    ExecutionError(const std::string& message, int number, SourceRange range = {}, std::string application = {})
        : std::runtime_error(message), number(number), range(range), application(std::move(application)) {}
    int number;
    SourceRange range;
    bool located = false;     // range set by the statement or expression that failed
    std::string application;  // set when the error came from the application told
};

// The text osascript prints on standard error (without the final line feed).
std::string formatSyntaxError(const std::string& program, const SyntaxError& error);
std::string formatExecutionError(const std::string& program, const ExecutionError& error);

}  // namespace vesko::osascript
