// pubfunc frame-rate counters: one pair of plain counters per pipeline stage, reported through
// the process-wide logger once per interval.
#include "pubfunc/pubfunc.h"
#include "pubfunc/pubfunc_internal.h"

#include "log/log.h"
#include "platform/syscalls.h"

namespace {

// Frames counted and the tick at which the interval started (0: not started), per stage. Each
// stage is driven by one thread, so no lock guards them.
unsigned int s_sendFrames = 0;
unsigned int s_sendStart = 0;
unsigned int s_captureFrames = 0;
unsigned int s_captureStart = 0;
unsigned int s_beforeEncodeFrames = 0;
unsigned int s_beforeEncodeStart = 0;
unsigned int s_afterEncodeFrames = 0;
unsigned int s_afterEncodeStart = 0;

// The platform's millisecond tick count, through the table tests replace it in.
unsigned int ticks() { return platform::sys().tickCount(); }

}  // namespace

namespace nxpubfunc {

void resetFrameCounters() {
    s_sendFrames = s_sendStart = 0;
    s_captureFrames = s_captureStart = 0;
    s_beforeEncodeFrames = s_beforeEncodeStart = 0;
    s_afterEncodeFrames = s_afterEncodeStart = 0;
}

}  // namespace nxpubfunc

void pubfunc::_updatePublishFPS(unsigned int& frames, unsigned int& startTick,
                                const std::u16string& name, int interval) {
    if (startTick == 0) {
        frames = 0;
        startTick = ticks();
        return;
    }
    ++frames;
    // Unsigned arithmetic: a wrap of the tick count between the two readings is harmless.
    const unsigned int elapsed = ticks() - startTick;
    if (elapsed <= static_cast<unsigned int>(interval))
        return;
    // Widened so that counts above 4,294,967 frames do not overflow the product.
    const unsigned int average =
        static_cast<unsigned int>(static_cast<unsigned long long>(frames) * 1000u / elapsed);
    TRK::TRKLogger::Instance()->LogInfo(u"pubfunc::_updatePublishFPS  %s AVG_FPS : %d FPS : %d",
                                        name.c_str(), average, frames);
    frames = 0;
    startTick = ticks();
}

void pubfunc::updatePublishSendFPS(const std::u16string& name) {
    _updatePublishFPS(s_sendFrames, s_sendStart, name, 60000);
}

void pubfunc::updatePublishCaptureFPS(const std::u16string& name) {
    _updatePublishFPS(s_captureFrames, s_captureStart, name, 60000);
}

void pubfunc::updateBeforeEncodeFPS(const std::u16string& name) {
    _updatePublishFPS(s_beforeEncodeFrames, s_beforeEncodeStart, name, 8000);
}

void pubfunc::updateAfterEncodeFPS(const std::u16string& name) {
    _updatePublishFPS(s_afterEncodeFrames, s_afterEncodeStart, name, 8000);
}
