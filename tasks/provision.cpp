// Stand-in until provisioning lands.
#include "tasks/provision.h"
void CheckRT06Jobs() {}
void CreateRT06Jobs() {}
