#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/adapter_info.h"

namespace tessel {

class cCaptureSession;
class cFrameSource;
class HandOffChannel;
class cProgramTable;
struct AdapterAddresses;

// Adapter discovery and capture start, run once on the main thread before the render loop.
// Every failure ends the process (see the messages in the implementation).
class cNetInterface {
  public:
    // `adapter` receives what discovery finds; `channel` is where the session's threads hand
    // their work to the main thread. Both outlive this object.
    cNetInterface(AdapterAddresses& adapter, HandOffChannel& channel);
    virtual ~cNetInterface();
    cNetInterface(const cNetInterface&) = delete;
    cNetInterface& operator=(const cNetInterface&) = delete;
    // Fills the adapter's addresses for `nic` (the caller then adds this host and the gateway
    // to the node list).
    void discoverAdapter(std::string nic);
    // Starts the capture helper on `nic` with `filter` (a capture filter, "" for none; the
    // helper sets it on its frames and its rates handle alike) and the capture session's threads
    // on its stream. False, with *filterError saying why and nothing started, when the filter
    // does not compile for the adapter. With `programs` the session looks up the program of
    // each flow of this host and writes it there (the table outlives the session).
    bool startCapture(std::string nic, const std::string& filter, std::string* filterError,
                      cProgramTable* programs = nullptr);
    // Starts the session's threads on a replay instead of an adapter; `stepped`: none, the main
    // thread releases its frames (an offline recording, CaptureOptions::stepped).
    void startReplay(std::unique_ptr<cFrameSource> source, bool loop, bool stepped = false);
    // Starts the session's threads on a flow collector: its frames go on as they come.
    void startFeed(std::unique_ptr<cFrameSource> source);
    // Stops and joins the session's threads (main thread, at shutdown).
    void stopCapture();
    // The session started last, or null: its counters stay readable after stopCapture().
    const cCaptureSession* captureSession() const { return session.get(); }
    cCaptureSession* captureSession() { return session.get(); }

  private:
    AdapterAddresses& adapter_;
    HandOffChannel& channel_;
    std::unique_ptr<cCaptureSession> session;
};

// What discovery finds for one adapter name.
struct AdapterConfig {
    bool exists = false;  // an interface of exactly that name
    std::string address;  // empty when it has no IPv4 address
    std::string netmask;
    std::string gateway;  // empty when it has no default route
    std::vector<InterfaceIPv6> ipv6;
    std::string gateway6;  // the IPv6 default router, empty when there is none
};
AdapterConfig findAdapterConfig(const std::string& nic,
                                const std::vector<InterfaceAddress>& interfaces,
                                const std::string& routeTable, const std::string& routeTable6 = "");

}  // namespace tessel
