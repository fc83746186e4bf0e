#include "plugin/host_services.h"

void THostFunctions::LookUp(platform::ModuleHandle module) {
  SendNotify = platform::FindProcedure(module, "Telvano_SendNotify");
  SendDataEx =
      reinterpret_cast<TSendDataExFn>(platform::FindProcedure(module, "Telvano_SendDataEx"));
  DataSourceData = platform::FindProcedure(module, "Telvano_DataSourceData");
  DataSourceState = platform::FindProcedure(module, "Telvano_DataSourceState");
  ManageDynForm = platform::FindProcedure(module, "Telvano_ManageDynForm");
}
