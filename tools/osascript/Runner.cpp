#include "tools/osascript/Runner.hpp"

#include "tools/osascript/Evaluator.hpp"
#include "tools/osascript/Parser.hpp"

namespace vesko::osascript {

RunOutput runScript(const std::string& program, Browser& browser) {
    RunOutput output;
    ast::Program tree;
    try {
        tree = parse(program);
    } catch (const SyntaxError& error) {
        output.status = 1;
        output.err = formatSyntaxError(program, error) + "\n";
        return output;
    }
    Evaluator evaluator(browser);
    try {
        Value result = evaluator.run(tree);
        if (result.kind != Value::Kind::Nothing) {
            output.out = display(result, evaluator.applicationName());
            output.out += '\n';
        }
    } catch (const ExecutionError& error) {
        output.status = 1;
        output.err = formatExecutionError(program, error) + "\n";
    } catch (const std::exception& error) {
        // A failure nobody foresaw (a malformed answer from the browser): still one error, in the usual form.
        output.status = 1;
        output.err = formatExecutionError(program, ExecutionError(error.what(), errnum::kGeneric)) + "\n";
    }
    return output;
}

}  // namespace vesko::osascript
