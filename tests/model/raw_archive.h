// An archived object written key by key, to stand for archives that older versions wrote.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "platform/foundation/keyed_archiver.h"

namespace hxtest {

// Writes whatever keys a test wants under a class name.
class RawObject : public foundation::Archivable {
public:
    RawObject(std::string name, std::function<void(foundation::Coder&)> body)
        : name_(std::move(name)), body_(std::move(body)) {}
    std::string className() const override { return name_; }
    void encode(foundation::Coder& coder) const override { body_(coder); }

private:
    std::string name_;
    std::function<void(foundation::Coder&)> body_;
};

}  // namespace hxtest
