// Placeholder so that a folder library exists before its first source file.
