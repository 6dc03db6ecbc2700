// Worker jobs at start-up: remove the jobs of an earlier run, create one job
// per partition and one correction job for every tenant.
#pragma once

#include "tasks/task.h"

void CheckRT06Jobs();
void CreateRT06Jobs();

enum { RT06_CORRECTION_JOB = 0 };  // partition number that stands for the correction job

// The worker program's name part for a DB_SYSTEM text: "SQLSERVER" for
// "MSSQL", the text itself otherwise.
const char *rt06ProgramName(const char *dbSystem);

// Clears record and fills it as the tenant's job for partition 1..10, or as
// its correction job for RT06_CORRECTION_JOB.
void fillRT06Job(TaskRecord *record, const char *program, const char *schema,
                 const char *settingsPath, int partition);
