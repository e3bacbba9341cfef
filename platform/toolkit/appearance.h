// Class-level appearance defaults: values set once for a kind of view (optionally only where it
// sits inside another kind of view) that each such view takes when it first comes into a window,
// for the properties it has not been given itself. A subclass takes its base class's values; a
// value set for views inside a container wins over the plain one. Main thread.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <typeindex>
#include <variant>
#include <vector>

#include "platform/toolkit/graphics_types.h"

namespace toolkit {

class View;

// A disabled button, in a bar or on its own, shows its title at this share of its colour's alpha.
inline constexpr double kDisabledAlpha = 0.35;

using AppearanceValue = std::variant<Color, Font, double, bool>;

class AppearanceProxy {
public:
    void set(const std::string& property, AppearanceValue value) { values_[property] = std::move(value); }
    const AppearanceValue* find(const std::string& property) const;

private:
    std::map<std::string, AppearanceValue> values_;
};

class Appearance {
public:
    // The proxy of views of class T.
    template <class T>
    static AppearanceProxy& of() {
        return proxy(typeid(T), isA<T>, std::nullopt, nullptr);
    }
    // The proxy of views of class T inside a view of class Container.
    template <class T, class Container>
    static AppearanceProxy& of() {
        return proxy(typeid(T), isA<T>, std::type_index(typeid(Container)), isA<Container>);
    }
    // The value for a view: from a proxy of its class (or a base) inside one of its ancestors'
    // classes first, then from a plain one; nothing when none was set.
    static const AppearanceValue* value(const View& view, const std::string& property);
    template <class V>
    static std::optional<V> get(const View& view, const std::string& property) {
        const AppearanceValue* v = value(view, property);
        if (!v) return std::nullopt;
        if (const V* typed = std::get_if<V>(v)) return *typed;
        return std::nullopt;
    }
    static bool empty();
    // Drops every proxy (tests, and a program starting again).
    static void reset();

    using Match = bool (*)(const View&);

private:
    template <class T>
    static bool isA(const View& v) {
        return dynamic_cast<const T*>(&v) != nullptr;
    }
    static AppearanceProxy& proxy(std::type_index type, Match match, std::optional<std::type_index> container,
                                  Match containerMatch);
};

}  // namespace toolkit
