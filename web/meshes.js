// Reads the mesh files the page accepts with three.js's loaders and hands the
// triangles on as a soup: a Float32Array of nine numbers, three corners of
// x, y, z, to a triangle. The module welds the corners into shared vertices.
import { OBJLoader } from 'three/addons/loaders/OBJLoader.js';
import { STLLoader } from 'three/addons/loaders/STLLoader.js';
import { PLYLoader } from 'three/addons/loaders/PLYLoader.js';

export const extensions = ['stl', 'obj', 'ply'];

// The triangles of a geometry, corner by corner.
function soupOf(geometry) {
  const flat = geometry.index ? geometry.toNonIndexed() : geometry;
  const position = flat.getAttribute('position');
  if (!position) {
    return new Float32Array(0);
  }
  const corners = position.count - (position.count % 3);
  const soup = new Float32Array(corners * 3);
  for (let i = 0; i < corners; ++i) {
    soup[3 * i] = position.getX(i);
    soup[3 * i + 1] = position.getY(i);
    soup[3 * i + 2] = position.getZ(i);
  }
  return soup;
}

function joined(parts) {
  const soup = new Float32Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of parts) {
    soup.set(p, at);
    at += p.length;
  }
  return soup;
}

// The soup of a file's bytes, by the file's extension. Throws an Error that
// says what is wrong when the file is of another kind or has no triangles.
export function parseMesh(name, buffer) {
  const extension = name.toLowerCase().split('.').pop();
  let soup;
  if (extension === 'obj') {
    // Faces only: the loader turns lines and points into objects of their
    // own, which have no surface to draw.
    const group = new OBJLoader().parse(new TextDecoder().decode(buffer));
    const parts = [];
    group.traverse((object) => {
      if (object.isMesh) {
        parts.push(soupOf(object.geometry));
      }
    });
    soup = joined(parts);
  } else if (extension === 'stl') {
    soup = soupOf(new STLLoader().parse(buffer));
  } else if (extension === 'ply') {
    // A PLY file without faces is a point cloud: the loader gives it no index.
    const geometry = new PLYLoader().parse(buffer);
    soup = geometry.index ? soupOf(geometry) : new Float32Array(0);
  } else {
    throw new Error(`${name}: not an STL, OBJ or PLY file`);
  }
  if (soup.length === 0) {
    throw new Error(`${name}: no triangles in it`);
  }
  return soup;
}
