#pragma once
// One client request: passed to the registered browsers in turn until one answers.

#include "base/error.hpp"
#include "protocol/framing.hpp"
#include "server/broker.hpp"

namespace vesk {

// The answer the client gets: the first browser answer (with "vesk" added for shared
// tabs), or "noBrowser" / "browserDisconnected". Blocks while browsers work.
RelayedMessage broker_request(std::shared_ptr<const RelayedMessage> request, Registry& registry,
                              const BrokerOptions& options);

// Logs the request, brokers it, writes the answer and closes the connection.
Status relay_client_request(Connection& connection, RelayedMessage request, Registry& registry,
                            const BrokerOptions& options);

}  // namespace vesk
