#include "client/ui/ClientDialogsImpl.h"
#include "client/ui/rdclient.h"

int main(int argc, char** argv) {
  rd::client::ClientDialogsImpl dialogs;
  return rd::client::RdclientApp::Run(argc, argv, &dialogs);
}
