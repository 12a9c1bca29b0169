/* Machine-dependent JNI types for Windows builds with MinGW-w64 (32 and 64 bit). The JDK installed
   here is a Linux one; its jni_md.h would give Windows code the wrong calling convention. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
