// Worker jobs at start-up: remove the jobs of an earlier run, create one job
// per partition and one correction job for every tenant.
#pragma once

void CheckRT06Jobs();
void CreateRT06Jobs();
