// Serial::GetPortsList, Linux form: device files found by name patterns under
// /dev, USB serial devices described from the kernel's sysfs tree.
#include "serial/ports_list_linux.h"

#include <glob.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <fstream>

namespace Serial {

namespace {

// root without its trailing slashes, so that "/" and "" both mean the real
// file system and root + "/dev/..." is a well-formed path.
std::string prefixOf(const std::string& root) {
    std::string prefix = root;
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    return prefix;
}

std::string lastComponent(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The text before the last "/"; "/" when that is the first character; the
// text itself when it has none.
std::string parentOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return path;
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The absolute path with every link resolved; empty when it cannot be.
std::string canonicalOf(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::string();
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool exists(const std::string& path) {
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

// The file's text up to the first newline; empty when it cannot be read.
std::string firstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (file) std::getline(file, line);
    return line;
}

// "manufacturer product serial" of a USB device directory, or empty when
// the device names none of the three.
std::string usbFriendlyName(const std::string& dir) {
    std::string manufacturer = firstLine(dir + "/manufacturer");
    std::string product = firstLine(dir + "/product");
    std::string serial = firstLine(dir + "/serial");
    if (manufacturer.empty() && product.empty() && serial.empty()) return std::string();
    return manufacturer + " " + product + " " + serial;
}

// "USB VID:PID=vendor:product SNR=serial" of a USB device directory; the
// serial part is empty (leaving a trailing blank) when it has none.
std::string usbHardwareText(const std::string& dir) {
    std::string serial = firstLine(dir + "/serial");
    if (!serial.empty()) serial = "SNR=" + serial;
    std::string vendor = firstLine(dir + "/idVendor");
    std::string product = firstLine(dir + "/idProduct");
    return "USB VID:PID=" + vendor + ":" + product + " " + serial;
}

PortInfo describe(const std::string& path, const std::string& sysPrefix) {
    const std::string name = lastComponent(path);
    const std::string sysfsPath = sysPrefix + "/sys/class/tty/" + name + "/device";

    std::string description;
    std::string hardwareId;
    const bool usbSerial = name.compare(0, 6, "ttyUSB") == 0;
    const bool usbModem = name.compare(0, 6, "ttyACM") == 0;
    if (usbSerial || usbModem) {
        // ttyUSB: the device link names the interface's tty node, two levels
        // below the USB device; ttyACM: it names the interface, one level.
        std::string dir = parentOf(canonicalOf(sysfsPath));
        if (usbSerial) dir = parentOf(dir);
        if (exists(dir)) {
            description = usbFriendlyName(dir);
            hardwareId = usbHardwareText(dir);
        }
    } else if (exists(sysfsPath + "/id")) {
        hardwareId = firstLine(sysfsPath + "/id");
    }

    if (description.empty()) description = name;
    if (hardwareId.empty()) hardwareId = "n/a";
    return PortInfo{path, description, hardwareId};
}

}  // namespace

std::vector<PortInfo> GetPortsListUnder(const std::string& devRoot, const std::string& sysRoot) {
    const std::string devPrefix = prefixOf(devRoot);
    const std::string sysPrefix = prefixOf(sysRoot);
    static const char* const patterns[] = {"/dev/ttyACM*", "/dev/ttyS*", "/dev/ttyUSB*", "/dev/tty.*",
                                           "/dev/cu.*"};

    // Each pattern's matches come sorted by glob; the groups follow in
    // pattern order. A pattern without matches adds nothing.
    glob_t found{};
    int flags = 0;
    for (const char* pattern : patterns) {
        glob((devPrefix + pattern).c_str(), flags, nullptr, &found);
        flags = GLOB_APPEND;
    }

    std::vector<PortInfo> result;
    for (std::size_t i = 0; i < found.gl_pathc; ++i) {
        if (found.gl_pathv[i] != nullptr) result.push_back(describe(found.gl_pathv[i], sysPrefix));
    }
    globfree(&found);
    return result;
}

std::vector<PortInfo> GetPortsList() { return GetPortsListUnder("/", "/"); }

}  // namespace Serial
