// dot_state.cpp - storage of quilldot's process-wide state.
#include "dot_state.h"

namespace quilldot {

int Model = 0;
int HasCutter = 0;
int HasDrawer = 0;
int HasBlackMark = 0;
int MaxWidth = 0;

int CuttingMethod = 0;
int DrawerMethod = 0;
int BlackMarkMethod = 0;
int LogoMethod = 0;
int PaperType = 0;

volatile sig_atomic_t Canceled = 0;
int OutputError = 0;

int NumPlanes = 0;
uint8_t* Planes[kMaxPlanes] = {};
std::vector<uint8_t> RowBuffer;

int DotBytes = 0;
int DotColumns = 0;
int Interleaved = 0;
int Shingling = 0;

std::vector<uint8_t> CompBuffer;
std::vector<uint8_t> BandBuffer;
uint8_t* LineBuffers[2] = {};

int DotBit = 0;
int GroupRow = 0;
int LineCount = 0;
int EvenOffset = 0;
int OddOffset = 0;
int BlankRowCnt = 0;
long Feed = 0;

namespace {

// Empties v and gives its memory back.
template <typename T>
void Free(std::vector<T>* v) {
  std::vector<T>().swap(*v);
}

}  // namespace

void ResetState() {
  Model = HasCutter = HasDrawer = HasBlackMark = MaxWidth = 0;
  CuttingMethod = DrawerMethod = BlackMarkMethod = LogoMethod = PaperType = 0;
  Canceled = 0;
  OutputError = 0;
  NumPlanes = 0;
  for (uint8_t*& p : Planes) p = nullptr;
  Free(&RowBuffer);
  DotBytes = DotColumns = Interleaved = Shingling = 0;
  Free(&CompBuffer);
  Free(&BandBuffer);
  LineBuffers[0] = LineBuffers[1] = nullptr;
  DotBit = GroupRow = LineCount = EvenOffset = OddOffset = BlankRowCnt = 0;
  Feed = 0;
}

}  // namespace quilldot
