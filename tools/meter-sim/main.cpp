// dlt645-meter-sim: DL/T 645 meters on a TCP port, as DTUs, or on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <asio.hpp>

#include "platform/process_limits.h"
#include "sim_log.h"
#include "sim_net.h"
#include "sim_options.h"

namespace {

using metersim::SimConfig;
using metersim::SimMode;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Fail(const std::string& message) {
  std::fprintf(stderr, "dlt645-meter-sim: %s\n", message.c_str());
  return kExitFailure;
}

int Run(const SimConfig& config) {
  asio::io_context io(1);
  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&io](asio::error_code ec, int) {
    if (!ec) io.stop();
  });
  asio::steady_timer duration(io);
  if (config.duration_s > 0) {
    duration.expires_after(
        std::chrono::milliseconds(static_cast<int64_t>(config.duration_s * 1000)));
    duration.async_wait([&io](asio::error_code ec) {
      if (!ec) io.stop();
    });
  }

  std::string error;
  switch (config.mode) {
    case SimMode::kListen: {
      // Many clients may connect; take what the system allows.
      platform::RaiseOpenFileLimit(65536);
      metersim::TcpServer server(io, config);
      if (!server.Open(&error)) return Fail(error);
      const auto endpoint = server.LocalEndpoint();
      const std::string host = endpoint.address().is_v6()
                                   ? "[" + endpoint.address().to_string() + "]"
                                   : endpoint.address().to_string();
      std::printf("listening on %s:%u\n", host.c_str(), static_cast<unsigned>(endpoint.port()));
      std::fflush(stdout);
      server.Start();
      io.run();
      server.Stop();
      return 0;
    }
    case SimMode::kDtu: {
      metersim::DtuPool pool(io, config);
      if (!pool.Open(&error)) return Fail(error);
      metersim::LogLine("%lu DTUs connecting to %s:%u", static_cast<unsigned long>(pool.DtuCount()),
                        config.host.c_str(), static_cast<unsigned>(config.port));
      pool.Start();
      io.run();
      pool.Stop();
      if (!pool.Failure().empty()) return Fail(pool.Failure());
      return 0;
    }
    case SimMode::kPty: {
      std::string path;
      const auto pty = metersim::StartPty(io, config, &path, &error);
      if (!pty) return Fail(error);
      std::printf("%s\n", path.c_str());
      std::fflush(stdout);
      io.run();
      return 0;
    }
    case SimMode::kNone:
      break;
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  SimConfig config;
  std::string error;
  if (!metersim::ParseSimOptions(args, &config, &error)) {
    std::fprintf(stderr, "dlt645-meter-sim: %s\nTry 'dlt645-meter-sim --help'.\n", error.c_str());
    return kExitUsage;
  }
  if (config.help) {
    std::fputs(metersim::SimUsage(), stdout);
    return 0;
  }
  if (config.version) {
    std::printf("dlt645-meter-sim %s\n", DLT645_VERSION_TEXT);
    return 0;
  }
  metersim::SetVerbose(config.verbose);
  try {
    return Run(config);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
