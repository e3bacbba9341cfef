// A stand-in that forwards calls to an object it holds weakly: delayed calls and display-link
// callbacks aimed at the proxy never keep the object alive, and once the object is gone a call is
// swallowed and answers a zero value.
#pragma once

#include <memory>
#include <type_traits>

namespace graphics {

template <typename T>
class HXCWeakProxy {
public:
    static std::shared_ptr<HXCWeakProxy> weakProxyForObject(const std::shared_ptr<T>& object) {
        auto proxy = std::make_shared<HXCWeakProxy>();
        proxy->target_ = object;
        return proxy;
    }

    std::shared_ptr<T> target() const { return target_.lock(); }

    // Calls `call(target)` while the target exists; otherwise a value-initialised result.
    template <typename Call>
    auto forward(Call call) const -> std::invoke_result_t<Call, T&> {
        using Result = std::invoke_result_t<Call, T&>;
        if (auto t = target_.lock()) return call(*t);
        if constexpr (std::is_void_v<Result>) {
            return;
        } else {
            return Result{};
        }
    }

private:
    std::weak_ptr<T> target_;
};

}  // namespace graphics
