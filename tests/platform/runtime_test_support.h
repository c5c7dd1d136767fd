#pragma once
// Helpers for the runtime stand-in's tests: a search that records its reports, and the
// handle of an offered instance as the binding would get it.

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "binding/runtime/runtime.h"
#include "platform/runtime/application.h"

namespace runtime_test {

using zun::com::runtime::Instance_id;
using zun::com::runtime::Service_finder;
using zun::com::runtime::Service_handle;
using Subscription = std::shared_ptr<Service_finder::Subscription_handle>;

inline Subscription find(Service_finder::Filter filter, const std::string& service,
                         const std::string& instance = "diag") {
    return kem::com::runtime::Component_singleton::get_service_finder()->find_service(
        std::move(filter), service, Instance_id(instance));
}

// The reports of one search, with the threads they came on; read after settle().
struct Reports {
    Subscription search(const std::string& service, const std::string& instance = "diag") {
        return find(
            [this](std::vector<Service_handle> found) {
                std::lock_guard<std::mutex> lock(mutex);
                reports.push_back(std::move(found));
                threads.push_back(std::this_thread::get_id());
                return true;
            },
            service, instance);
    }
    std::mutex mutex;
    std::vector<std::vector<Service_handle>> reports;
    std::vector<std::thread::id> threads;
};

// The handle of the first instance offered now (precondition: there is one).
inline Service_handle first_offered(const std::string& service) {
    Reports reports;
    auto subscription = reports.search(service);
    platform::runtime::settle();
    return reports.reports.at(0).at(0);
}

// Holds a callback inside hold() until an action on another thread has had time to start;
// waits_for() tells whether that action waited for the callback to leave.
class Gate {
  public:
    void hold() {
        inside_ = true;
        entered_.set_value();
        proceeding_.wait();
        inside_ = false;
    }
    template <class Action>
    bool waits_for(Action action) {
        entered_.get_future().wait();
        std::atomic<bool> returned{false}, inside_at_return{true};
        std::thread thread([&] {
            action();
            inside_at_return = inside_.load();
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the action start
        const bool returned_early = returned;
        proceed_.set_value();
        thread.join();
        return !returned_early && !inside_at_return;
    }

  private:
    std::promise<void> entered_, proceed_;
    std::shared_future<void> proceeding_ = proceed_.get_future().share();
    std::atomic<bool> inside_{false};
};

}  // namespace runtime_test
