#include "world.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "module.h"

namespace sim {

namespace {

constexpr uint32_t WORLD_MAGIC = 0x51534D31;               // "QSM1"
constexpr const char* SHARED_VAR = "SIMCAN_SHARED_STATE";  // pid:address of the record
constexpr const char* CONFIG_VAR = "SIMCAN_CONFIG";
constexpr const char* CONFIG_FILE_NAME = "simcan.ini";
constexpr const char* NO_BOX_VAR = "SIMCAN_NO_ERROR_BOX";
constexpr const char* BOX_TITLE = "Simulated CAN adapter";

World* g_world = nullptr;

World* FindShared() {
  char value[64];
  if (!GetProcessVar(SHARED_VAR, value, sizeof value)) return nullptr;
  unsigned long pid = 0;
  unsigned long long address = 0;
  if (sscanf(value, "%lu:%llx", &pid, &address) != 2 || pid != ProcessId() || !address) {
    return nullptr;
  }
  World* w = reinterpret_cast<World*>(static_cast<uintptr_t>(address));
  if (w->magic != WORLD_MAGIC || w->size != sizeof(World)) return nullptr;
  return w;
}

// The file beside the library, when there is one.
bool FileBesideModule(char* path, size_t size) {
  if (!ModulePath(path, size)) return false;
  char* base = path;
  for (char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  if (static_cast<size_t>(base - path) + strlen(CONFIG_FILE_NAME) >= size) return false;
  strcpy(base, CONFIG_FILE_NAME);
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  fclose(f);
  return true;
}

bool Refuse(World& w) {
  fprintf(stderr, "simcan: configuration refused: %s\n", w.lastError);
  return false;
}

}  // namespace

World& TheWorld() {
  if (g_world) return *g_world;
  g_world = FindShared();
  if (g_world) return *g_world;
  g_world = static_cast<World*>(calloc(1, sizeof(World)));
  if (!g_world) abort();
  g_world->magic = WORLD_MAGIC;
  g_world->size = sizeof(World);
  ClockUseReal(g_world->clock);
  g_world->adapter.rxCapacity = MAX_RX_QUEUE;
  char value[64];
  snprintf(value, sizeof value, "%lu:%llx", static_cast<unsigned long>(ProcessId()),
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(g_world)));
  SetProcessVar(SHARED_VAR, value);
  return *g_world;
}

uint64_t Sync(World& w) {
  uint64_t now = ClockNowUs(w.clock);
  BusRun(w, now);
  return now;
}

void ReportRefusedConfig(World& w) {
  snprintf(w.errorBox, sizeof w.errorBox,
           "The configuration of the simulated CAN adapter was refused:\n\n%s\n\n"
           "The adapter stays closed until the file is corrected.",
           w.lastError);
  char value[8];
  if (GetProcessVar(NO_BOX_VAR, value, sizeof value) && !strcmp(value, "1")) return;
  ShowErrorBox(BOX_TITLE, w.errorBox);
}

void ApplyConfig(World& w, const Config& c) {
  uint64_t now = Sync(w);
  w.busConfig = c.bus;
  w.configured = true;
  w.errorBox[0] = '\0';
  w.bus.pendingCount = 0;
  w.bus.wireTime = c.bus.wireTime;
  w.bus.freeAtUs = now;
  w.bus.frames = 0;
  w.bus.busyUs = 0;
  w.bus.statsStartUs = now;
  w.bus.lost = 0;
  Adapter& a = w.adapter;
  a.open = false;
  a.status = c.bus.status;
  a.txErrors = 0;
  a.busOffUntilUs = 0;
  a.latched = 0;
  a.failWrites = 0;
  a.rxCapacity = c.bus.rxQueue;
  AdapterClearQueue(a);
  TraceClear(w.trace);
  w.slaveCount = c.slaveCount;
  for (int i = 0; i < c.slaveCount; ++i) {
    memset(&w.slaves[i], 0, sizeof(Slave));
    w.slaves[i].cfg = c.slave[i];
    SlavePowerOn(w, i, false, now);
  }
  w.masterCount = c.masterCount;
  for (int i = 0; i < c.masterCount; ++i) {
    memset(&w.masters[i], 0, sizeof(Master));
    w.masters[i].cfg = c.master[i];
    MasterConfigure(w, i, now);
  }
}

bool LoadConfigText(World& w, const char* text, const char* name) {
  Config* c = static_cast<Config*>(malloc(sizeof(Config)));
  if (!c) return false;
  bool ok = ParseConfig(text ? text : "", name ? name : "(text)", *c, w.lastError, MAX_ERROR);
  if (ok) ApplyConfig(w, *c);
  free(c);
  return ok;
}

bool LoadConfigFile(World& w, const char* path) {
  Config* c = static_cast<Config*>(malloc(sizeof(Config)));
  if (!c) return false;
  bool ok = ReadConfigFile(path, *c, w.lastError, MAX_ERROR);
  if (ok) ApplyConfig(w, *c);
  free(c);
  return ok;
}

bool EnsureConfigured(World& w) {
  if (w.configured) return true;
  char path[1024];
  if (GetProcessVar(CONFIG_VAR, path, sizeof path) && path[0]) {
    return LoadConfigFile(w, path) || Refuse(w);
  }
  if (FileBesideModule(path, sizeof path)) return LoadConfigFile(w, path) || Refuse(w);
  return LoadConfigText(w, kDefaultConfig, "(built-in default)") || Refuse(w);
}

}  // namespace sim
