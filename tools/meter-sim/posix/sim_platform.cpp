#include "platform/pty.h"
#include "sim_log.h"
#include "sim_net.h"

namespace metersim {

void PrepareListenSocket(asio::ip::tcp::acceptor& acceptor) {
  asio::error_code ignored;
  acceptor.set_option(asio::socket_base::reuse_address(true), ignored);
}

std::shared_ptr<void> StartPty(asio::io_context& io, const SimConfig& config,
                               std::string* slave_path, std::string* error) {
  auto pty = std::make_shared<platform::PseudoTerminal>();
  if (!pty->Open(error)) return nullptr;
  *slave_path = pty->SlavePath();
  asio::posix::stream_descriptor stream(io, pty->ReleaseMaster());
  // The link lives on through its pending read; the handle keeps the slave open.
  auto link = std::make_shared<Link<asio::posix::stream_descriptor>>(
      std::move(stream), config.meters, config, config.seed, "pty", nullptr);
  link->Start();
  return pty;
}

}  // namespace metersim
