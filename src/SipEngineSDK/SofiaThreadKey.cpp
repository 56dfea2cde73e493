// At exit, sofia's library destructor deletes the thread key of its random
// state whether or not it ever made one; never made, the key it deletes is
// key 0, which belongs to whoever took it first (GLib's slice allocator, a
// race checker's runtime), and threads still starting or ending then fail.
// Making sofia take its own key while the library loads means the key it
// deletes is its own. Every program that loads sofia needs this, not only
// those that run the engine: the link pulls this object in by the symbol
// below (see the SIP engine layer in cmake/PellixTargets.cmake).
#include <sofia-sip/su_uniqueid.h>

extern "C" {
extern const int pellix_sofia_takes_its_thread_key;
const int pellix_sofia_takes_its_thread_key = (su_random(), 1);
}
