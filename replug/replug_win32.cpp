// The re-plug backend on Windows: all present devices through the setup interface, the device
// tree through the configuration manager, volumes matched to drive letters by their volume
// names, and the command as an IOCTL_SCSI_PASS_THROUGH_DIRECT request.
#include <windows.h>
// clang-format off
#include <initguid.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "replug/replug_internal.h"

DEFINE_GUID(kVolumeInterface, 0x53f5630d, 0xb6bf, 0x11d0, 0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb,
            0x8b);  // GUID_DEVINTERFACE_VOLUME

namespace orbek::replug {
namespace {

using VolumeNameFn = BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD);

constexpr int kMaxDepth = 64;

// The request followed by room for sense data: 44 + 4 + 32 = 80 bytes with the sense data at
// 48 on x86 (56 + 4 + 32, aligned to 96, with the sense data at 60 on x86-64).
struct PassThroughBuffer {
  SCSI_PASS_THROUGH_DIRECT request;
  ULONG filler;
  UCHAR sense[32];
};
#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "the x86 request record is 44 bytes");
static_assert(offsetof(PassThroughBuffer, sense) == 48, "sense data at 48 on x86");
static_assert(sizeof(PassThroughBuffer) == 80, "an 80-byte buffer on x86");
#endif

std::string DeviceId(DEVINST node) {
  char id[MAX_DEVICE_ID_LEN + 1] = {};
  if (CM_Get_Device_IDA(node, id, sizeof id, 0) != CR_SUCCESS)
    return {};
  return id;
}

std::string VolumeName(VolumeNameFn volumeName, const std::string& mountPoint) {
  char name[MAX_PATH + 1] = {};
  if (volumeName == nullptr || !volumeName(mountPoint.c_str(), name, sizeof name))
    return {};
  return name;
}

// The volume interfaces of one device node.
std::vector<std::string> VolumeInterfaces(const std::string& deviceId) {
  ULONG size = 0;
  GUID volume = kVolumeInterface;
  if (CM_Get_Device_Interface_List_SizeA(&size, &volume, const_cast<char*>(deviceId.c_str()),
                                         CM_GET_DEVICE_INTERFACE_LIST_PRESENT) != CR_SUCCESS ||
      size <= 1) {
    return {};
  }
  std::vector<char> list(size + 1, '\0');
  if (CM_Get_Device_Interface_ListA(&volume, const_cast<char*>(deviceId.c_str()), list.data(), size,
                                    CM_GET_DEVICE_INTERFACE_LIST_PRESENT) != CR_SUCCESS) {
    return {};
  }
  std::vector<std::string> interfaces;
  for (const char* entry = list.data(); *entry != '\0'; entry += std::strlen(entry) + 1) {
    interfaces.emplace_back(entry);
  }
  return interfaces;
}

struct Walk {
  const std::string& prefix;
  const std::set<DEVINST>& usbDevices;
  VolumeNameFn volumeName;
  std::vector<char>& letters;
  bool mark = false;

  void Visit(DEVINST node, int depth) {
    const std::string id = DeviceId(node);
    MarkNode(id, prefix, mark);
    for (const std::string& interfacePath : VolumeInterfaces(id)) {
      const std::string name = VolumeName(volumeName, interfacePath + "\\");
      if (name.empty())
        continue;
      for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string root = std::string(1, letter) + ":\\";
        if (mark && VolumeName(volumeName, root) == name &&
            std::find(letters.begin(), letters.end(), letter) == letters.end()) {
          letters.push_back(letter);
        }
      }
    }
    if (depth >= kMaxDepth)
      return;
    DEVINST child = 0;
    if (CM_Get_Child(&child, node, 0) != CR_SUCCESS)
      return;
    do {
      if (usbDevices.count(child) == 0)
        Visit(child, depth + 1);
    } while (CM_Get_Sibling(&child, child, 0) == CR_SUCCESS);
  }
};

}  // namespace

std::vector<std::string> FindMarkedVolumes(const std::string& prefix) {
  std::set<DEVINST> usbDevices;
  std::vector<DEVINST> ordered;
  HDEVINFO devices =
      SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (devices != INVALID_HANDLE_VALUE) {
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
      if (StartsWithNoCase(DeviceId(device.DevInst), "USB\\VID") &&
          usbDevices.insert(device.DevInst).second) {
        ordered.push_back(device.DevInst);
      }
    }
    SetupDiDestroyDeviceInfoList(devices);
  }

  auto volumeName = reinterpret_cast<VolumeNameFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetVolumeNameForVolumeMountPointA")));
  std::vector<char> letters;
  Walk walk{prefix, usbDevices, volumeName, letters};
  for (DEVINST device : ordered)
    walk.Visit(device, 0);

  std::vector<std::string> volumes;
  for (char letter : letters)
    volumes.push_back(std::string("\\\\.\\") + letter + ":");
  return volumes;
}

void SendScsiCommand(const std::string& volume, const uint8_t* cdb, size_t length) {
  HANDLE handle =
      CreateFileA(volume.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return;
  PassThroughBuffer buffer;
  ZeroMemory(&buffer, sizeof buffer);
  SCSI_PASS_THROUGH_DIRECT& request = buffer.request;
  request.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  request.PathId = 0;
  request.TargetId = 1;
  request.Lun = 0;
  request.CdbLength = static_cast<UCHAR>(length);
  request.SenseInfoLength = 24;
  request.DataIn = SCSI_IOCTL_DATA_IN;
  request.DataTransferLength = 0;
  request.TimeOutValue = 10;
  request.DataBuffer = nullptr;
  request.SenseInfoOffset = offsetof(PassThroughBuffer, sense);
  std::copy_n(cdb, std::min<size_t>(length, sizeof request.Cdb), request.Cdb);
  DWORD returned = 0;
  DeviceIoControl(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &buffer, sizeof buffer, &buffer,
                  sizeof buffer, &returned, nullptr);  // the result is not examined
  CloseHandle(handle);
}

}  // namespace orbek::replug
