// The compact listing of a snapshot on standard output.
#include "language/snapshot_listing.hpp"
#include "render/render.hpp"
#include "render/stdout_writer.hpp"

namespace vesk {

Status print_snapshot_listing(const Json& value) { return write_stdout(snapshot_listing(value)); }

}  // namespace vesk
