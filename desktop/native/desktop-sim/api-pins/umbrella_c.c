// The umbrella headers must also compile as C, as the platform's do.
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <desktop_sim/control.h>

typedef char desktop_sim_c_boolean_is_one_byte[sizeof(Boolean) == 1 ? 1 : -1];

// Both forms of CF_ENUM and CF_OPTIONS, as C code using the platform's headers writes them.
CF_ENUM(CFIndex){kDesktopSimCAnonymousConstant = 3};
typedef CF_ENUM(UInt8, DesktopSimCNamedEnum) { kDesktopSimCNamedConstant = 1 };
typedef CF_OPTIONS(UInt32, DesktopSimCOptions) { kDesktopSimCOptionLow = 1u };
typedef char desktop_sim_c_options_are_integers[sizeof(DesktopSimCOptions) == 4 ? 1 : -1];
typedef char desktop_sim_c_named_enum_is_its_type[sizeof(DesktopSimCNamedEnum) == 1 ? 1 : -1];
