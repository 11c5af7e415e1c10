// The port list of the port dialog and the command line: COM1 to COM4 first, so that an item's
// position is its port number, then the ports found on this computer; and what choosing one does.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_discovery.h"
#include "serial/status_codes.h"

namespace zephor::app {

// The ports every list starts with, COM1 to COM4.
inline constexpr int kPortCount = 4;

// COMn (any letter case, n from 1 up to the highest port number) gives port index n - 1; false
// for anything else.
bool PortIndexFromName(std::string_view name, int& portIndex);

struct PortItem {
  std::string text;    // what the list shows
  std::string device;  // what it opens
  int portIndex = -1;  // what every later operation receives
};

// COM1 to COM4, then each found port that is not one of them, with its description.
std::vector<PortItem> PortItems(const std::vector<serial::FoundPort>& found);

// The port index that opens device now, or -1 when none does.
int PortIndexOfDevice(const std::string& device);

// The position of the item that opens what portIndex opens now; -1 when no item does.
int ItemOfPort(const std::vector<PortItem>& items, int portIndex);

// Makes every later operation on the item's port index open its device (for this run only);
// returns that index, or -1 when the system cannot name the device so.
int ChoosePortItem(const PortItem& item);

// The port index for what the command line names: COMn, a device path or a by-id name (the
// whole path or its last part). A device no index opens yet is opened as COM1. False when the
// system cannot name the device so, and for a COM name out of range ("COM0", "COM257").
bool PortIndexForName(const std::string& name, const std::vector<serial::FoundPort>& found,
                      int& portIndex);

// Shows the items with one selected (-1 for none); true on OK with item the chosen position.
using PortDialog = std::function<bool(const std::vector<PortItem>& items, int& item)>;

// The port dialog over the ports present now: true on OK with a port chosen, portIndex then
// its index; otherwise false, portIndex unchanged.
bool ChoosePortIn(const serial::PortSearch& where, const PortDialog& dialog, int& portIndex);

// The port and what it opens: "COM5 is /dev/ttyS4", or "COM5" where the two are one.
std::string PortAndDevice(int portIndex);

// Why an open failed, in words: "COM5 is /dev/ttyS4: no such device (status -14)"; a -3 says
// which cause the system gave beside it, and names the program that holds the port when the
// system tells ("in use by zephor (process 4242)").
std::string DescribeOpenFailure(int portIndex, int status, serial::OpenRefusal refusal);

// What a port name opens, so that two names of one device are one: COMn's device, a by-id name's
// device or the path itself, its links followed where they can be.
std::string DeviceOfPort(const std::string& name, const std::vector<serial::FoundPort>& found);

}  // namespace zephor::app
