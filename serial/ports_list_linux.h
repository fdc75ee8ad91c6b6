// The Linux port list with its roots made explicit, so that it can be run
// over a copy of /dev and /sys; Serial::GetPortsList uses "/" for both.
#pragma once

#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace Serial {

// Lists the device files under devRoot + "/dev" and describes them from
// sysRoot + "/sys/class/tty". Paths in the result carry devRoot's prefix.
std::vector<PortInfo> GetPortsListUnder(const std::string& devRoot, const std::string& sysRoot);

}  // namespace Serial
