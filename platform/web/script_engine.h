// The script engine of one page: an embedded JavaScript heap bound to the page's document,
// bounded in time and memory. Only the app's own scripts are evaluated here; the page's
// <script> elements never are. Every failure (a syntax or run-time error, a timeout, the heap
// cap, an engine fault) comes back as an error value, and after any of them the page's engine
// keeps answering.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace web {

class Document;
class Node;

inline constexpr const char* kScriptErrorDomain = "HXWebScriptErrorDomain";
enum ScriptErrorCode : int64_t {
    kScriptErrorException = 1,    // the script threw (syntax or run-time error)
    kScriptErrorTimeout = 2,      // it ran past its time
    kScriptErrorOutOfMemory = 3,  // the heap cap was reached
    kScriptErrorResultType = 4,   // the result cannot be expressed as a value
    kScriptErrorEngine = 5,       // the engine could not be started or failed internally
};

struct ScriptLimits {
    // Wall-clock seconds one evaluation may run (measured on the steady clock: the process
    // clock may be virtual and stand still while a script spins).
    double seconds = 1.0;
    size_t heapBytes = 16u << 20;
};

class ScriptEngine {
public:
    // The layout answers element heights (scrollHeight, offsetHeight) in points.
    using HeightProvider = std::function<double(const Node&)>;

    ScriptEngine(Document& document, ScriptLimits limits = {});
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    void setHeightProvider(HeightProvider provider);
    const ScriptLimits& limits() const { return limits_; }

    // Runs script as a program and converts its completion value through JSON inside the
    // engine: undefined, functions and NaN become null, elements become empty dictionaries.
    foundation::Result<foundation::Value> evaluate(std::string_view script);

    // Bytes the heap holds now, and the most it ever held.
    size_t heapBytesInUse() const;
    size_t peakHeapBytes() const;
    // How many heaps this page needed (a new one after an engine fault).
    int heapsCreated() const;

    struct State;

private:
    bool ensureHeap();
    Document& document_;
    ScriptLimits limits_;
    std::unique_ptr<State> state_;
};

// text as a JavaScript string literal (double quotes, everything outside printable ASCII and
// every quote, backslash and line terminator escaped): safe to put into a script.
std::string javaScriptStringLiteral(std::string_view text);

}  // namespace web
