#include "player/ui/rdplayer.h"

int main(int argc, char** argv) {
  return rd::player::RdplayerApp::Run(argc, argv);
}
