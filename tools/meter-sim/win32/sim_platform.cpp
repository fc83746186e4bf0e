#include "sim_net.h"

namespace metersim {

void PrepareListenSocket(asio::ip::tcp::acceptor& acceptor) {
  // Windows lets a second program bind a port with SO_REUSEADDR; keep ours.
  using exclusive = asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
  asio::error_code ignored;
  acceptor.set_option(exclusive(true), ignored);
}

std::shared_ptr<void> StartPty(asio::io_context&, const SimConfig&, std::string*,
                               std::string* error) {
  *error = "--pty is not available on Windows (use --listen with a virtual COM port bridge)";
  return nullptr;
}

}  // namespace metersim
