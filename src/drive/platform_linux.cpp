// TEMPORARY placeholder until the Linux backend lands.
#include "drive/drive.h"
const drive_ops platform_drive_ops = {"linux", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
const char *const platform_default_paths[] = {"/dev/cdrom", "/dev/sr0", nullptr};
