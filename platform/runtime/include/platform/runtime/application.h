#pragma once
// Application side of the runtime stand-in's in-process transport: what a simulated
// application service uses to offer an instance of a service and to answer the calls
// that reach it. Tests and the simulator use it; the plug-in never does.
//
//   auto offer = platform::runtime::offer_service("orlak::services::diag::d_0102::...", "diag",
//       [](platform::runtime::Incoming_call call) { call.respond(0, {0x07}); });
//
// Threads: handlers run on the runtime's transport thread, one call at a time; a handler
// that wants to answer later moves the call elsewhere and answers from any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zun::com::runtime {
class Method_call;
}  // namespace zun::com::runtime

namespace platform::runtime {

// A view of bytes owned by someone else: [first, last).
struct Bytes_view {
    const std::uint8_t* first = nullptr;
    const std::uint8_t* last = nullptr;

    const std::uint8_t* begin() const noexcept { return first; }
    const std::uint8_t* end() const noexcept { return last; }
    std::size_t size() const noexcept { return static_cast<std::size_t>(last - first); }
};

// One request as the application receives it. Movable; answering is thread-safe and
// happens at most once. A call destroyed without an answer is never answered: the
// caller's future stays pending until the caller gives up.
class Incoming_call {
  public:
    explicit Incoming_call(std::shared_ptr<zun::com::runtime::Method_call> call);
    Incoming_call(Incoming_call&&) noexcept;
    Incoming_call& operator=(Incoming_call&&) noexcept;
    ~Incoming_call();

    const std::string& service() const noexcept;
    const std::string& instance() const noexcept;
    std::uint16_t method_id() const noexcept;
    // The request payload exactly as serialized by the caller (MetaInfo first). Valid
    // until the call is answered: the response may travel in the request's buffer.
    Bytes_view payload() const noexcept;

    // Delivers the response to the caller's response handler on a runtime thread: at
    // once when called on the transport thread (inside the handler), otherwise through it.
    // Returns false when the call was already answered.
    bool respond(std::uint8_t return_code, const std::vector<std::uint8_t>& payload);

  private:
    std::shared_ptr<zun::com::runtime::Method_call> call_;
};

using Call_handler = std::function<void(Incoming_call)>;

// An offered instance. While it exists, every search for its service and instance
// reports it; destroying it (or withdraw()) stops the offer: the searches receive the
// updated list and the connection of every port to this instance becomes unavailable.
class Offer {
  public:
    Offer() = default;
    Offer(Offer&&) noexcept;
    Offer& operator=(Offer&&) noexcept;
    ~Offer();
    void withdraw();
    bool active() const noexcept;

  private:
    friend Offer offer_service(std::string, std::string, Call_handler);
    struct Record;
    explicit Offer(std::shared_ptr<Record> record);
    std::shared_ptr<Record> record_;
};

// Offers `service` under `instance`; every call that reaches it runs `handler`.
Offer offer_service(std::string service, std::string instance, Call_handler handler);

// Blocks until every discovery report produced so far has been delivered, the transport
// has carried every queued request and response, and the runtime's thread pool has no
// work left (discovery handlers included). Not to be called on a runtime thread.
void settle();

}  // namespace platform::runtime
