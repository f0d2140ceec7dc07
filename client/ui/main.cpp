#include "client/ui/rdclient.h"

int main(int argc, char** argv) {
  return rd::client::RdclientApp::Run(argc, argv);
}
