// A reply sink that only counts the bytes a handler writes: the benchmarks measure producing a reply,
// not sending it.
#pragma once

#include "server/store/ReplyWriter.h"

#include <cstddef>
#include <string_view>

namespace benchsupport {

class DropSink : public orvo::server::ByteSink {
public:
    bool write(std::string_view bytes) override {
        bytes_ += bytes.size();
        return true;
    }
    std::size_t bytes_ = 0;
};

} // namespace benchsupport
