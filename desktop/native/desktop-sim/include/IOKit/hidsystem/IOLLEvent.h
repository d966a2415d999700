// IOKit's low-level event flags: here only the device-dependent modifier bits, which tell the
// two keys of a modifier pair apart. Keyboards set them in the flags of every event, beside the
// device-independent masks of CGEventTypes.h.
#ifndef DESKTOP_SIM_IOLLEVENT_H_
#define DESKTOP_SIM_IOLLEVENT_H_

#define NX_DEVICELCTLKEYMASK 0x00000001
#define NX_DEVICELSHIFTKEYMASK 0x00000002
#define NX_DEVICERSHIFTKEYMASK 0x00000004
#define NX_DEVICELCMDKEYMASK 0x00000008
#define NX_DEVICERCMDKEYMASK 0x00000010
#define NX_DEVICELALTKEYMASK 0x00000020
#define NX_DEVICERALTKEYMASK 0x00000040
#define NX_DEVICERCTLKEYMASK 0x00002000

#endif  // DESKTOP_SIM_IOLLEVENT_H_
