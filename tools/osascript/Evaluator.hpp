#pragma once
// Runs a parsed program against a Browser. Text item delimiters, variables and
// the tell targets live for one run. Errors are ExecutionError, located at the
// expression or statement that failed.

#include "tools/osascript/Ast.hpp"
#include "tools/osascript/Browser.hpp"
#include "tools/osascript/Value.hpp"

#include <map>
#include <string>
#include <vector>

namespace vesko::osascript {

class Evaluator {
public:
    explicit Evaluator(Browser& browser) : browser_(browser) {}

    // The program's result: the value of its "return", else of its last
    // statement; Nothing when there is none.
    Value run(const ast::Program& program);

    // The application named by the innermost tell, for printing references.
    const std::string& applicationName() const { return application_; }

private:
    void execute(const ast::Block& block);
    void execute(const ast::Stmt& statement);
    void assign(const ast::Expr& target, Value value);

    Value evaluate(const ast::Expr& expr);
    Value evaluateBinary(const ast::Expr& expr);
    Value evaluateElement(const ast::Expr& expr);
    Value evaluateEvery(const ast::Expr& expr);
    Value evaluateProperty(const ast::Expr& expr);
    Value evaluateDoJavaScript(const ast::Expr& expr);
    Value evaluateCount(const ast::Expr& expr);
    Value coerce(const Value& value, const std::string& type, const ast::Expr& at);

    // The container of a reference: its "of" part, else the innermost tell target.
    Value containerOf(const ast::Expr& expr);
    const std::vector<WindowInfo>& windows(const ast::Expr& at);
    const TabInfo& tabInfo(const Value& tab, const ast::Expr& at);
    std::size_t currentTab(std::size_t window, const ast::Expr& at);
    std::string tabTitle(std::size_t window, std::size_t tab, const ast::Expr& at);

    std::string toText(const Value& value, const ast::Expr& at);
    double toNumber(const Value& value, const ast::Expr& at);
    bool toBoolean(const Value& value, const ast::Expr& at);
    bool equal(const Value& a, const Value& b);
    int compare(const Value& a, const Value& b, const ast::Expr& at);

    [[noreturn]] void fail(const std::string& message, int number, const ast::Expr& at, bool fromApplication = false);

    Browser& browser_;
    std::map<std::string, Value> variables_;
    Value textItemDelimiters_ = Value::fromList({Value::fromText("")});
    std::vector<Value> tellTargets_;
    std::string application_ = "Safari";
    Value result_;
    bool returning_ = false;
};

}  // namespace vesko::osascript
