#include "platform/web/script_engine.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/foundation/json.h"
#include "platform/web/dom.h"
#include <duktape.h>

namespace web {

using Clock = std::chrono::steady_clock;

struct ScriptEngine::State {
    Document* document = nullptr;
    ScriptLimits limits;
    HeightProvider heights;
    duk_context* ctx = nullptr;
    size_t used = 0;
    size_t peak = 0;
    Clock::time_point deadline{};
    bool armed = false;
    bool timedOut = false;
    bool allocationRefused = false;
    bool fatal = false;
    int heaps = 0;
    void* blocks = nullptr;  // the heap's live blocks, newest first
};

namespace {

struct FatalError {};

// Each block carries a header in front: its size, so the cap counts what the heap really
// holds, and links to the heap's other blocks, so a heap abandoned after an engine fault can be
// given back block by block without running any of the engine's code.
struct BlockHeader {
    size_t size;
    BlockHeader* prev;
    BlockHeader* next;
};
constexpr size_t kHeader = (sizeof(BlockHeader) + 15) & ~size_t{15};

BlockHeader* headerOf(void* ptr) { return reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(ptr) - kHeader); }
void* payloadOf(BlockHeader* h) { return reinterpret_cast<unsigned char*>(h) + kHeader; }

void link(ScriptEngine::State* s, BlockHeader* h) {
    h->prev = nullptr;
    h->next = static_cast<BlockHeader*>(s->blocks);
    if (h->next) h->next->prev = h;
    s->blocks = h;
}

void unlink(ScriptEngine::State* s, BlockHeader* h) {
    if (h->prev)
        h->prev->next = h->next;
    else
        s->blocks = h->next;
    if (h->next) h->next->prev = h->prev;
}

void* engineAlloc(void* udata, duk_size_t size) {
    auto* s = static_cast<ScriptEngine::State*>(udata);
    if (size == 0) return nullptr;
    if (size > s->limits.heapBytes || s->used + size > s->limits.heapBytes) {
        s->allocationRefused = true;
        return nullptr;
    }
    auto* h = static_cast<BlockHeader*>(std::malloc(size + kHeader));
    if (!h) return nullptr;
    h->size = size;
    link(s, h);
    s->used += size;
    if (s->used > s->peak) s->peak = s->used;
    return payloadOf(h);
}

void engineFree(void* udata, void* ptr) {
    if (!ptr) return;
    auto* s = static_cast<ScriptEngine::State*>(udata);
    BlockHeader* h = headerOf(ptr);
    unlink(s, h);
    s->used -= h->size;
    std::free(h);
}

void* engineRealloc(void* udata, void* ptr, duk_size_t size) {
    auto* s = static_cast<ScriptEngine::State*>(udata);
    if (!ptr) return engineAlloc(udata, size);
    if (size == 0) {
        engineFree(udata, ptr);
        return nullptr;
    }
    BlockHeader* h = headerOf(ptr);
    size_t old = h->size;
    if (size > old && (size > s->limits.heapBytes || s->used - old + size > s->limits.heapBytes)) {
        s->allocationRefused = true;
        return nullptr;
    }
    unlink(s, h);
    auto* grown = static_cast<BlockHeader*>(std::realloc(h, size + kHeader));
    if (!grown) {
        link(s, h);
        return nullptr;
    }
    grown->size = size;
    link(s, grown);
    s->used = s->used - old + size;
    if (s->used > s->peak) s->peak = s->used;
    return payloadOf(grown);
}

// Gives back every block of a heap that must not be touched by the engine again.
void reclaimAbandonedHeap(ScriptEngine::State* s) {
    auto* h = static_cast<BlockHeader*>(s->blocks);
    while (h) {
        BlockHeader* next = h->next;
        std::free(h);
        h = next;
    }
    s->blocks = nullptr;
    s->used = 0;
    s->ctx = nullptr;
}

// An engine fault leaves the heap unusable: mark it and leave through an exception the
// evaluation catches; the heap is then abandoned and a new one made on the next call.
void engineFatal(void* udata, const char* message) {
    auto* s = static_cast<ScriptEngine::State*>(udata);
    s->fatal = true;
    (void)message;
    throw FatalError{};
}

ScriptEngine::State* stateOf(duk_context* ctx) {
    duk_memory_functions funcs;
    duk_get_memory_functions(ctx, &funcs);
    return static_cast<ScriptEngine::State*>(funcs.udata);
}

// The engine keeps characters outside the basic plane as surrogate pairs, each written as its
// own three-byte sequence; everything leaving the engine is turned back into plain UTF-8, and
// a lone surrogate becomes U+FFFD.
std::string fromEngineText(const char* s, size_t len) {
    std::string out;
    out.reserve(len);
    auto surrogateAt = [&](size_t i) -> int {
        if (i + 2 < len && static_cast<unsigned char>(s[i]) == 0xED) {
            unsigned char b1 = static_cast<unsigned char>(s[i + 1]), b2 = static_cast<unsigned char>(s[i + 2]);
            if (b1 >= 0xA0 && b1 <= 0xBF && (b2 & 0xC0) == 0x80) return 0xD000 | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
        }
        return -1;
    };
    for (size_t i = 0; i < len;) {
        int hi = surrogateAt(i);
        if (hi < 0) {
            out += s[i++];
            continue;
        }
        int lo = surrogateAt(i + 3);
        if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) {
            unsigned cp = 0x10000 + ((static_cast<unsigned>(hi) - 0xD800) << 10) + (static_cast<unsigned>(lo) - 0xDC00);
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
            i += 6;
        } else {
            out += "\xEF\xBF\xBD";
            i += 3;
        }
    }
    return out;
}

Document& docOf(duk_context* ctx) { return *stateOf(ctx)->document; }

Node& nodeArg(duk_context* ctx, duk_idx_t index) {
    double id = duk_require_number(ctx, index);
    Node* n = (id >= 0 && id < 4294967296.0) ? docOf(ctx).nodeById(static_cast<uint32_t>(id)) : nullptr;
    if (!n) (void)duk_type_error(ctx, "not a node of this page");
    return *n;
}

std::string stringArg(duk_context* ctx, duk_idx_t index) {
    duk_size_t len = 0;
    const char* s = duk_safe_to_lstring(ctx, index, &len);
    return fromEngineText(s, len);
}

void pushString(duk_context* ctx, const std::string& s) { duk_push_lstring(ctx, s.data(), s.size()); }

void pushIds(duk_context* ctx, const std::vector<Node*>& nodes) {
    duk_idx_t arr = duk_push_array(ctx);
    duk_uarridx_t i = 0;
    for (Node* n : nodes) {
        duk_push_uint(ctx, n->id());
        duk_put_prop_index(ctx, arr, i++);
    }
}

duk_ret_t nByID(duk_context* ctx) {
    Node* n = docOf(ctx).getElementById(stringArg(ctx, 0));
    duk_push_int(ctx, n ? static_cast<duk_int_t>(n->id()) : -1);
    return 1;
}

duk_ret_t nByTag(duk_context* ctx) {
    auto& doc = docOf(ctx);
    std::string tag = stringArg(ctx, 0);
    if (duk_get_number_default(ctx, 1, -1) >= 0) {
        Node& scope = nodeArg(ctx, 1);
        std::vector<Node*> out;
        for (Node* n : doc.elementsIn(scope))
            if (n != &scope && (tag == "*" || n->tagName() == tag)) out.push_back(n);
        pushIds(ctx, out);
    } else {
        pushIds(ctx, doc.getElementsByTagName(tag));
    }
    return 1;
}

duk_ret_t nQuery(duk_context* ctx) {
    auto& doc = docOf(ctx);
    std::string selectors = stringArg(ctx, 0);
    const Node* scope = duk_get_number_default(ctx, 1, -1) >= 0 ? &nodeArg(ctx, 1) : nullptr;
    auto found = doc.querySelectorAll(selectors, scope);
    if (!found) {
        std::string message = found.error().localizedDescription();
        (void)duk_syntax_error(ctx, "%s", message.c_str());
    }
    pushIds(ctx, *found);
    return 1;
}

duk_ret_t nGet(duk_context* ctx) {
    auto& doc = docOf(ctx);
    Node& n = nodeArg(ctx, 0);
    std::string prop = stringArg(ctx, 1);
    if (prop == "value") {
        pushString(ctx, n.value());
    } else if (prop == "innerHTML") {
        pushString(ctx, doc.innerHTML(n));
    } else if (prop == "outerHTML") {
        pushString(ctx, doc.outerHTML(n));
    } else if (prop == "textContent" || prop == "innerText") {
        pushString(ctx, n.textContent());
    } else if (prop == "tagName") {
        pushString(ctx, n.tagName());
    } else if (prop == "checked") {
        duk_push_boolean(ctx, n.checked());
    } else if (prop == "disabled") {
        duk_push_boolean(ctx, n.hasAttribute("disabled"));
    } else if (prop == "className") {
        pushString(ctx, n.attribute("class").value_or(""));
    } else if (prop == "type") {
        std::string t = n.attribute("type").value_or(n.tagName() == "input" ? "text" : "");
        for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        pushString(ctx, t);
    } else {
        pushString(ctx, n.attribute(prop).value_or(""));
    }
    return 1;
}

duk_ret_t nSet(duk_context* ctx) {
    auto& doc = docOf(ctx);
    Node& n = nodeArg(ctx, 0);
    std::string prop = stringArg(ctx, 1);
    if (prop == "checked" || prop == "disabled") {
        bool on = duk_to_boolean(ctx, 2);
        if (prop == "checked") {
            n.setChecked(on);
        } else if (on) {
            n.setAttribute("disabled", "");
        } else {
            n.removeAttribute("disabled");
        }
        return 0;
    }
    std::string value = stringArg(ctx, 2);
    if (prop == "value") {
        n.setValue(std::move(value));
    } else if (prop == "innerHTML") {
        auto st = doc.setInnerHTML(n, value);
        if (!st) {
            std::string message = st.error().localizedDescription();
            (void)duk_range_error(ctx, "%s", message.c_str());
        }
    } else if (prop == "textContent" || prop == "innerText") {
        auto st = doc.setInnerHTML(n, escapeHTML(value, false));
        if (!st) (void)duk_range_error(ctx, "the page holds too many nodes");
    } else if (prop == "className") {
        n.setAttribute("class", std::move(value));
    } else {
        n.setAttribute(prop, std::move(value));
    }
    return 0;
}

duk_ret_t nAttr(duk_context* ctx) {
    Node& n = nodeArg(ctx, 0);
    auto v = n.attribute(stringArg(ctx, 1));
    if (v)
        pushString(ctx, *v);
    else
        duk_push_null(ctx);
    return 1;
}

duk_ret_t nSetAttr(duk_context* ctx) {
    Node& n = nodeArg(ctx, 0);
    n.setAttribute(stringArg(ctx, 1), stringArg(ctx, 2));
    return 0;
}

duk_ret_t nStyleGet(duk_context* ctx) {
    Node& n = nodeArg(ctx, 0);
    pushString(ctx, n.style(stringArg(ctx, 1)));
    return 1;
}

duk_ret_t nStyleSet(duk_context* ctx) {
    Node& n = nodeArg(ctx, 0);
    std::string value = duk_is_null_or_undefined(ctx, 2) ? std::string() : stringArg(ctx, 2);
    n.setStyle(stringArg(ctx, 1), std::move(value));
    return 0;
}

duk_ret_t nForm(duk_context* ctx) {
    auto& doc = docOf(ctx);
    Node& form = nodeArg(ctx, 0);
    if (form.tagName() != "form") (void)duk_type_error(ctx, "FormData needs a form element");
    auto entries = doc.formData(form);
    duk_idx_t arr = duk_push_array(ctx);
    duk_uarridx_t i = 0;
    for (auto& [k, v] : entries) {
        duk_idx_t pair = duk_push_array(ctx);
        pushString(ctx, k);
        duk_put_prop_index(ctx, pair, 0);
        pushString(ctx, v);
        duk_put_prop_index(ctx, pair, 1);
        duk_put_prop_index(ctx, arr, i++);
    }
    return 1;
}

duk_ret_t nBody(duk_context* ctx) {
    Node* b = docOf(ctx).body();
    duk_push_int(ctx, b ? static_cast<duk_int_t>(b->id()) : -1);
    return 1;
}

duk_ret_t nRoot(duk_context* ctx) {
    duk_push_uint(ctx, docOf(ctx).documentElement()->id());
    return 1;
}

duk_ret_t nParent(duk_context* ctx) {
    Node& n = nodeArg(ctx, 0);
    duk_push_int(ctx, n.parent() ? static_cast<duk_int_t>(n.parent()->id()) : -1);
    return 1;
}

duk_ret_t nChildren(duk_context* ctx) {
    Node& n = nodeArg(ctx, 0);
    std::vector<Node*> out;
    for (Node* c : n.children())
        if (c->isElement()) out.push_back(c);
    pushIds(ctx, out);
    return 1;
}

duk_ret_t nHeight(duk_context* ctx) {
    auto* s = stateOf(ctx);
    Node& n = nodeArg(ctx, 0);
    duk_push_number(ctx, s->heights ? s->heights(n) : 0.0);
    return 1;
}

duk_ret_t nTitle(duk_context* ctx) {
    pushString(ctx, docOf(ctx).title());
    return 1;
}

// The page's object model as scripts see it, built over the natives above. Elements are
// wrappers holding a node number; one wrapper per node, so identity comparisons hold.
constexpr const char* kPrelude = R"JS(
(function (h, global) {
  var cache = {};
  var proto = {};
  function wrap(id) {
    if (id < 0) return null;
    var e = cache[id];
    if (e) return e;
    e = Object.create(proto);
    Object.defineProperty(e, '__node', { value: id });
    cache[id] = e;
    return e;
  }
  function list(ids) { var out = []; for (var i = 0; i < ids.length; i++) out.push(wrap(ids[i])); return out; }
  function cssName(p) { return String(p).replace(/[A-Z]/g, function (m) { return '-' + m.toLowerCase(); }); }
  function accessor(name, get, set) { Object.defineProperty(proto, name, { get: get, set: set, enumerable: false }); }
  ['value', 'innerHTML', 'outerHTML', 'id', 'name', 'className', 'textContent', 'innerText', 'checked',
   'disabled', 'type', 'href', 'src', 'action', 'method', 'placeholder'].forEach(function (p) {
    accessor(p, function () { return h.get(this.__node, p); }, function (v) { h.set(this.__node, p, v); });
  });
  accessor('tagName', function () { return h.get(this.__node, 'tagName').toUpperCase(); });
  accessor('nodeName', function () { return h.get(this.__node, 'tagName').toUpperCase(); });
  ['scrollHeight', 'offsetHeight', 'clientHeight'].forEach(function (p) {
    accessor(p, function () { return h.height(this.__node); });
  });
  accessor('parentNode', function () { return wrap(h.parent(this.__node)); });
  accessor('parentElement', function () { return wrap(h.parent(this.__node)); });
  accessor('children', function () { return list(h.children(this.__node)); });
  accessor('form', function () {
    for (var p = h.parent(this.__node); p >= 0; p = h.parent(p)) if (h.get(p, 'tagName') === 'form') return wrap(p);
    return null;
  });
  accessor('style', function () {
    var id = this.__node;
    return new Proxy({}, {
      get: function (t, k) {
        if (typeof k !== 'string') return undefined;
        if (k === 'cssText') return h.attr(id, 'style') || '';
        if (k === 'getPropertyValue') return function (n) { return h.styleGet(id, String(n)); };
        if (k === 'setProperty') return function (n, v) { h.styleSet(id, String(n), v); };
        if (k === 'removeProperty') return function (n) { h.styleSet(id, String(n), ''); };
        return h.styleGet(id, cssName(k));
      },
      set: function (t, k, v) {
        if (k === 'cssText') h.setAttr(id, 'style', String(v)); else h.styleSet(id, cssName(k), v);
        return true;
      }
    });
  });
  proto.getAttribute = function (n) { return h.attr(this.__node, String(n)); };
  proto.setAttribute = function (n, v) { h.setAttr(this.__node, String(n), String(v)); };
  proto.hasAttribute = function (n) { return h.attr(this.__node, String(n)) !== null; };
  proto.getElementsByTagName = function (t) { return list(h.byTag(String(t).toLowerCase(), this.__node)); };
  proto.querySelectorAll = function (s) { return list(h.query(String(s), this.__node)); };
  proto.querySelector = function (s) { var r = h.query(String(s), this.__node); return r.length ? wrap(r[0]) : null; };
  proto.toString = function () { return '[object HTMLElement]'; };

  var document = {
    getElementById: function (i) { return wrap(h.byId(String(i))); },
    getElementsByTagName: function (t) { return list(h.byTag(String(t).toLowerCase(), -1)); },
    getElementsByName: function (n) {
      return list(h.query('*', -1)).filter(function (e) { return e.getAttribute('name') === String(n); });
    },
    querySelectorAll: function (s) { return list(h.query(String(s), -1)); },
    querySelector: function (s) { var r = h.query(String(s), -1); return r.length ? wrap(r[0]) : null; }
  };
  Object.defineProperty(document, 'body', { get: function () { return wrap(h.body()); } });
  Object.defineProperty(document, 'documentElement', { get: function () { return wrap(h.root()); } });
  Object.defineProperty(document, 'title', { get: function () { return h.title(); } });
  Object.defineProperty(document, 'forms', { get: function () { return list(h.byTag('form', -1)); } });
  global.document = document;

  function FormData(form) {
    if (!(this instanceof FormData)) throw new TypeError('FormData must be called with new');
    if (form === undefined) { this.__entries = []; return; }
    if (!form || typeof form.__node !== 'number') throw new TypeError('FormData needs a form element');
    this.__entries = h.form(form.__node);
  }
  FormData.prototype.forEach = function (callback, thisArg) {
    var e = this.__entries.slice();
    for (var i = 0; i < e.length; i++) callback.call(thisArg, e[i][1], e[i][0], this);
  };
  FormData.prototype.get = function (n) {
    for (var i = 0; i < this.__entries.length; i++) if (this.__entries[i][0] === String(n)) return this.__entries[i][1];
    return null;
  };
  FormData.prototype.getAll = function (n) {
    return this.__entries.filter(function (e) { return e[0] === String(n); }).map(function (e) { return e[1]; });
  };
  FormData.prototype.has = function (n) { return this.get(n) !== null; };
  FormData.prototype.append = function (k, v) { this.__entries.push([String(k), String(v)]); };
  global.FormData = FormData;
  global.window = global;
})
)JS";

const duk_function_list_entry kNatives[] = {
    {"byId", nByID, 1},         {"byTag", nByTag, 2},       {"query", nQuery, 2},     {"get", nGet, 2},
    {"set", nSet, 3},           {"attr", nAttr, 2},         {"setAttr", nSetAttr, 3}, {"styleGet", nStyleGet, 2},
    {"styleSet", nStyleSet, 3}, {"form", nForm, 1},         {"body", nBody, 0},       {"root", nRoot, 0},
    {"parent", nParent, 1},     {"children", nChildren, 1}, {"height", nHeight, 1},   {"title", nTitle, 0},
    {nullptr, nullptr, 0},
};

// The prelude's function compiled once per process and kept as bytecode, which each new heap
// loads: compiling it again for every page cost more than everything else a page's first
// script does. The bytecode is our own, never a page's.
std::mutex& preludeMutex() {
    static std::mutex m;
    return m;
}
std::string& preludeBytecode() {
    static std::string bytes;
    return bytes;
}

void pushPrelude(duk_context* ctx) {
    {
        std::lock_guard lock(preludeMutex());
        const std::string& bytes = preludeBytecode();
        if (!bytes.empty()) {
            void* buffer = duk_push_fixed_buffer(ctx, bytes.size());
            std::memcpy(buffer, bytes.data(), bytes.size());
            duk_load_function(ctx);
            return;
        }
    }
    duk_eval_string(ctx, kPrelude);
    duk_dup_top(ctx);
    duk_dump_function(ctx);
    duk_size_t size = 0;
    const void* dumped = duk_get_buffer(ctx, -1, &size);
    {
        std::lock_guard lock(preludeMutex());
        if (preludeBytecode().empty() && dumped && size > 0)
            preludeBytecode().assign(static_cast<const char*>(dumped), size);
    }
    duk_pop(ctx);
}

// Everything that touches the heap runs inside a protected call, so that an allocation refused
// anywhere comes back as an error of that call instead of leaving the engine.
duk_ret_t setUpHeap(duk_context* ctx, void*) {
    pushPrelude(ctx);
    duk_push_object(ctx);
    duk_put_function_list(ctx, -1, kNatives);
    duk_push_global_object(ctx);
    duk_call(ctx, 2);
    duk_pop(ctx);
    // The JSON writer the results go through, kept where a script cannot replace it.
    duk_push_global_stash(ctx);
    duk_get_global_string(ctx, "JSON");
    duk_get_prop_string(ctx, -1, "stringify");
    duk_put_prop_string(ctx, -3, "stringify");
    duk_pop_2(ctx);
    return 0;
}

struct Evaluation {
    std::string_view script;
    std::string json;
    bool undefined = false;
};

duk_ret_t evaluateProgram(duk_context* ctx, void* udata) {
    auto* e = static_cast<Evaluation*>(udata);
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, "stringify");
    duk_eval_lstring(ctx, e->script.data(), e->script.size());
    duk_call(ctx, 1);
    if (duk_is_undefined(ctx, -1)) {
        e->undefined = true;
    } else {
        duk_size_t len = 0;
        const char* text = duk_get_lstring(ctx, -1, &len);
        e->json = text ? fromEngineText(text, len) : std::string("null");
    }
    return 0;
}

// Keeps the stack balanced however a step leaves (but never touches a heap after a fault).
struct StackGuard {
    duk_context* ctx;
    const ScriptEngine::State* state;
    duk_idx_t top;
    StackGuard(duk_context* c, const ScriptEngine::State* s) : ctx(c), state(s), top(duk_get_top(c)) {}
    ~StackGuard() {
        if (!state->fatal && duk_get_top(ctx) > top) duk_set_top(ctx, top);
    }
};

}  // namespace

}  // namespace web

// Called by the engine at its interrupt points; once past the deadline it must keep saying so
// until the script has left the engine, or the error could be caught and the loop go on.
extern "C" int hx_duk_exec_timeout_check(void* udata) {
    auto* s = static_cast<web::ScriptEngine::State*>(udata);
    if (!s || !s->armed) return 0;
    if (s->timedOut) return 1;
    if (web::Clock::now() >= s->deadline) s->timedOut = true;
    return s->timedOut ? 1 : 0;
}

namespace web {

ScriptEngine::ScriptEngine(Document& document, ScriptLimits limits)
    : document_(document), limits_(limits), state_(std::make_unique<State>()) {
    state_->document = &document_;
    state_->limits = limits_;
}

ScriptEngine::~ScriptEngine() {
    // A heap left behind by an engine fault is never destroyed through the engine (its state is
    // unknown); its blocks are given back directly.
    if (state_->fatal)
        reclaimAbandonedHeap(state_.get());
    else if (state_->ctx)
        duk_destroy_heap(state_->ctx);
}

void ScriptEngine::setHeightProvider(HeightProvider provider) { state_->heights = std::move(provider); }

size_t ScriptEngine::heapBytesInUse() const { return state_->used; }
size_t ScriptEngine::peakHeapBytes() const { return state_->peak; }
int ScriptEngine::heapsCreated() const { return state_->heaps; }

bool ScriptEngine::ensureHeap() {
    if (state_->fatal) {
        // The faulted heap is given back without the engine's help; then start over.
        reclaimAbandonedHeap(state_.get());
        state_->fatal = false;
    }
    if (state_->ctx) return true;
    State* s = state_.get();
    s->armed = false;
    duk_context* ctx = nullptr;
    try {
        ctx = duk_create_heap(engineAlloc, engineRealloc, engineFree, s, engineFatal);
    } catch (const FatalError&) {
        return false;
    }
    if (!ctx) return false;
    s->ctx = ctx;
    ++s->heaps;
    bool ready = false;
    try {
        StackGuard guard(ctx, s);
        ready = duk_safe_call(ctx, setUpHeap, nullptr, 0, 1) == 0;
    } catch (const FatalError&) {
        return false;
    }
    if (!ready) {
        // A heap that could not take the page's object model is of no use: start again next time.
        duk_destroy_heap(ctx);
        s->ctx = nullptr;
        return false;
    }
    return true;
}

foundation::Result<foundation::Value> ScriptEngine::evaluate(std::string_view script) {
    auto error = [](int64_t code, const std::string& message) {
        return foundation::Error::withDescription(kScriptErrorDomain, code, message);
    };
    if (!ensureHeap()) return error(kScriptErrorEngine, "the script engine could not start");
    State* s = state_.get();
    duk_context* ctx = s->ctx;
    s->timedOut = false;
    s->allocationRefused = false;
    s->deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(limits_.seconds > 0 ? limits_.seconds : 0.0));
    s->armed = true;
    struct Disarm {
        State* s;
        ~Disarm() { s->armed = false; }
    } disarm{s};

    Evaluation evaluation{script};
    std::string failure;
    bool failed = false;
    try {
        StackGuard guard(ctx, s);
        if (duk_safe_call(ctx, evaluateProgram, &evaluation, 0, 1) != 0) {
            failed = true;
            failure = stringArg(ctx, -1);
        }
    } catch (const FatalError&) {
        s->ctx = nullptr;
        return error(kScriptErrorEngine, "the script engine failed and was restarted");
    }
    // Return the garbage of this evaluation to the page's budget before the next one.
    if (!s->fatal) duk_gc(ctx, 0);
    if (failed) {
        if (s->timedOut) return error(kScriptErrorTimeout, "the script ran too long: " + failure);
        if (s->allocationRefused) return error(kScriptErrorOutOfMemory, "the script ran out of memory: " + failure);
        return error(kScriptErrorException, failure);
    }
    if (evaluation.undefined) return foundation::Value();
    auto parsed = foundation::parseJSON(evaluation.json);
    if (!parsed) return error(kScriptErrorResultType, "the result could not be converted");
    return std::move(parsed).value();
}

std::string javaScriptStringLiteral(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char buf[8];
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\'':
                out += "\\'";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '<':
                out += "\\x3c";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    std::snprintf(buf, sizeof buf, "\\x%02x", c);
                    out += buf;
                } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                           (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                            static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
                    // Line and paragraph separators end a line inside older engines' literals.
                    out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
                    i += 2;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += "\"";
    return out;
}

}  // namespace web
