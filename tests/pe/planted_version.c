/* A stranger's version.dll, put beside the program: it answers every size
   query with a number no real file has. */
__declspec(dllexport) unsigned long __stdcall GetFileVersionInfoSizeA(const char* file,
                                                                       unsigned long* handle)
{
    (void)file;
    if (handle)
        *handle = 0;
    return 0x7E57;
}
