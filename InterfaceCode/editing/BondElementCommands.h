// Joins the Edit Bonding and Edit Elements commands to the command chain.
#pragma once

void InstallBondAndElementEditorCommands();
