#include "platform/ScreenDepth.h"

#include <atomic>
#include <mutex>

namespace platform {

namespace {

std::atomic<int> overriddenDepth{0};
std::mutex sourceMutex;
std::function<int()> depthSource;

} // namespace

int screenBitsPerPixel()
{
    if (const int bits = overriddenDepth.load(std::memory_order_relaxed); bits > 0)
        return bits;
    std::lock_guard lock(sourceMutex);
    const int bits = depthSource ? depthSource() : 0;
    return bits > 0 ? bits : 32;
}

void setScreenDepthSource(std::function<int()> source)
{
    std::lock_guard lock(sourceMutex);
    depthSource = std::move(source);
}

void overrideScreenBitsPerPixel(int bits)
{
    overriddenDepth.store(bits > 0 ? bits : 0, std::memory_order_relaxed);
}

} // namespace platform
