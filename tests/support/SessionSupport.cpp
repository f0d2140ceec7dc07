#include "tests/support/SessionSupport.h"

#include "client/engine/rcctrlmain.h"
#include "tests/support/TestSupport.h"

namespace rdtest {

bool SessionOpen(const rd::RcCtrlMain& main) {
  rd::DvrStateBlock st;
  return main.ConnectionState() == rd::rcstate::kOpen && main.DvrState(&st) && st.settings_valid &&
         st.status_valid;
}

bool OpenSession(rd::RcCtrlMain& main, const uint8_t password[6], std::chrono::milliseconds timeout,
                 const WaitFn& wait) {
  main.Connect("127.0.0.1", password);
  const auto open = [&] { return SessionOpen(main); };
  return wait ? wait(open, timeout) : WaitFor(open, timeout);
}

}  // namespace rdtest
