// The umbrella headers must also compile as C, as the platform's do.
#include <ApplicationServices/ApplicationServices.h>
#include <desktop_sim/control.h>

typedef char desktop_sim_c_boolean_is_one_byte[sizeof(Boolean) == 1 ? 1 : -1];
