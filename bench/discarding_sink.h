#pragma once
// A platform log sink that drops every message: the benchmarks pay for rendering and
// emitting incident lines, not for writing them anywhere.
//
//   platform::ara_log::set_sink(std::make_shared<bench::Discarding_sink>());

#include "platform/ara_log/sink.h"

namespace bench {

class Discarding_sink : public platform::ara_log::Sink {
  protected:
    void do_write(const platform::ara_log::Message& /*message*/) override {}
};

}  // namespace bench
