#pragma once

// Registers every scene object type of this build with the scene's factory; once per
// process, whoever calls it first (the application, or a test loading scenes).
void RegisterSceneObjectTypes();
