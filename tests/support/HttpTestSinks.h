#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "platform/HttpClient.h"

namespace quiltara::test {

// Keeps a body in memory and the size of every block it came in.
class MemorySink : public HttpBodySink {
public:
    void WriteBlock(std::span<const std::byte> block) override {
        body.append(reinterpret_cast<const char*>(block.data()), block.size());
        blockSizes.push_back(block.size());
    }

    std::string body;
    std::vector<size_t> blockSizes;
};

} // namespace quiltara::test
