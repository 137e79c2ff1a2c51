#pragma once

namespace tessel {

class cFrameSource;
class WakeSignal;
struct PacketSink;

// The capture thread's loop for a replay: each frame of `source` is released when the pacer says it
// is due (speed and pause from replayState()), then goes to onPacket like a captured one; the rate
// history is fed in capture time; the HUD's progress is kept in replayState(). At the end of a
// file it starts again when `loop` is set; otherwise the message list says "Replay finished" and
// the thread waits for `stop` or a seek. A seek (replayState().seekToUs, taken before the first
// frame too) rebuilds the scene of its moment from the source's index: the frames of the minute
// before it are read at once, without records, and their hosts and open connections go to the
// main thread as one SeekReset; paced play goes on from the moment. Returns, with the writer
// flushed, once `stop` is raised.
void runReplayLoop(cFrameSource& source, PacketSink& sink, const WakeSignal& stop, bool loop);

// The capture thread's loop for a live source (the capture helper's stream, a flow collector):
// every frame goes to onPacket as soon as it comes. When the stream ends (the helper is gone)
// the message list says so and the thread waits for `stop`. Returns, with the writer flushed, once
// `stop` is raised.
void runLiveStreamLoop(cFrameSource& source, PacketSink& sink, const WakeSignal& stop);

}  // namespace tessel
